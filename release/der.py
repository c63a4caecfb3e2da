"""A reader of DER, the encoding of the signatures in a signed program: enough to walk a
PKCS#7 SignedData and to tell a value's exact bytes. Anything that is not strict DER (an
indefinite length, a length in more bytes than needed, bytes after the last value) is an
error, since a second encoding of the same value is room for bytes no one checks."""


class DerError(ValueError):
    pass


class Value:
    """One DER value: its tag byte, its whole encoding (`raw`) and its contents (`body`)."""

    def __init__(self, tag, raw, body):
        self.tag, self.raw, self.body = tag, raw, body

    @property
    def constructed(self):
        return bool(self.tag & 0x20)

    def children(self):
        return parse_all(self.body) if self.constructed else []


def parse_one(data, at=0):
    """The value that starts at `at`, and the offset after it."""
    if at + 2 > len(data):
        raise DerError("a value cut short")
    tag = data[at]
    if tag & 0x1F == 0x1F:
        raise DerError("a multi-byte tag")
    first, pos = data[at + 1], at + 2
    if first < 0x80:
        length = first
    else:
        count = first & 0x7F
        if count == 0 or count > 4:
            raise DerError("an indefinite or oversized length")
        length = int.from_bytes(data[pos:pos + count], "big")
        if data[pos] == 0 or length < 0x80:
            raise DerError("a length in more bytes than needed")
        pos += count
    end = pos + length
    if end > len(data):
        raise DerError("a value longer than its container")
    return Value(tag, bytes(data[at:end]), bytes(data[pos:end])), end


def parse_all(data):
    """The values that make up `data`, end to end."""
    values, at = [], 0
    while at < len(data):
        value, at = parse_one(data, at)
        values.append(value)
    return values


def parse_exact(data):
    """The one value that `data` is, with nothing after it."""
    value, end = parse_one(data)
    if end != len(data):
        raise DerError("bytes after the value")
    return value


def oid(value):
    """An OBJECT IDENTIFIER as its dotted text."""
    if value.tag != 0x06 or not value.body:
        raise DerError("not an object identifier")
    arcs, n = [], 0
    for byte in value.body:
        n = (n << 7) | (byte & 0x7F)
        if not byte & 0x80:
            arcs.append(n)
            n = 0
    first = min(arcs[0] // 40, 2)
    return ".".join(str(a) for a in [first, arcs[0] - 40 * first] + arcs[1:])
