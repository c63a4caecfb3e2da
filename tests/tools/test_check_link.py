"""Tests of tests/win/check_link.py, the guard of the library hooks, on small linker maps.

    python3 tests/tools/test_check_link.py      (ctest: tools.check_link)
"""

import os
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "win"))
import check_link  # noqa: E402

LIB = "/usr/lib/gcc/i686-w64-mingw32/12-win32/libstdc++.a"

# The parts of a GNU ld map the check reads: included members (short and long member names),
# discarded sections (never definitions), and placed sections with their symbols.
MAP = """Archive member included to satisfy reference by file (symbol)

%(lib)s(tree.o)               platform/librt_core.a(runtime.cpp.obj) (std::_Rb_tree_increment(std::_Rb_tree_node_base*))
%(lib)s(eh_throw.o)
                              CMakeFiles/setup.dir/platform/win32/library_errors.cpp.obj (__cxa_throw)
%(extra_member)s
Discarded input sections

 .text$_ZSt20__throw_length_errorPKc
                0x00000000       0x10 %(lib)s(functexcept.o)
                0x00000000                std::__throw_length_error(char const*)

Memory Configuration

Linker script and memory map

LOAD CMakeFiles/setup.dir/platform/win32/library_errors.cpp.obj
 .text          0x00401000      0x120 CMakeFiles/setup.dir/main.cpp.obj
                0x00401000                wWinMain@16
 .text$_ZSt20__throw_length_errorPKc
                0x00417bd0       0x10 CMakeFiles/setup.dir/platform/win32/library_errors.cpp.obj
                0x00417bd0                std::__throw_length_error(char const*)
 .text$_ZSt20__throw_out_of_rangePKc
                0x00417be0       0x10 %(out_of_range_from)s
                0x00417be0                std::__throw_out_of_range(char const*)
"""

HOOKS = "*library_errors.cpp.obj"
OURS = "CMakeFiles/setup.dir/platform/win32/library_errors.cpp.obj"


def linker_map(extra_member="", out_of_range_from=OURS):
    return MAP % {"lib": LIB, "extra_member": extra_member, "out_of_range_from": out_of_range_from}


class LibraryHooks(unittest.TestCase):
    def test_hooks_from_our_object_pass(self):
        self.assertEqual(check_link.problems(linker_map(), HOOKS, ["libstdc++.a(functexcept.o)"]), [])

    def test_a_hook_from_the_library_fails_and_a_discarded_copy_does_not_count(self):
        found = check_link.problems(linker_map(out_of_range_from=LIB + "(functexcept.o)"), HOOKS, [])
        self.assertEqual(found, ["std::__throw_out_of_range(char const*) is linked from libstdc++.a(functexcept.o), "
                                 "not from " + HOOKS])

    def test_a_forbidden_member_fails_with_what_pulled_it_in(self):
        member = LIB + "(vterminate.o)\n                              " + LIB + "(eh_terminate.o) (__gnu_cxx::__verbose_terminate_handler())"
        found = check_link.problems(linker_map(extra_member=member), HOOKS, ["libstdc++.a(vterminate.o)", "libgcc_eh.a(*)"])
        self.assertEqual(found, ["libstdc++.a(vterminate.o) is linked, pulled in by libstdc++.a(eh_terminate.o) "
                                 "(__gnu_cxx::__verbose_terminate_handler())"])

    def test_a_pattern_matches_short_member_lines_too(self):
        found = check_link.problems(linker_map(), HOOKS, ["libstdc++.a(*)"])
        self.assertEqual(len(found), 2)
        self.assertIn("libstdc++.a(tree.o) is linked, pulled in by librt_core.a(runtime.cpp.obj)", found[0])

    def test_a_map_without_our_hooks_fails(self):
        found = check_link.problems(linker_map(), "*lean_runtime.cpp.obj", [])
        self.assertIn("no hook is linked from *lean_runtime.cpp.obj", found)


if __name__ == "__main__":
    unittest.main()
