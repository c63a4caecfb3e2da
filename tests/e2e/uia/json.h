// uia's output: one JSON object built up key by key, values written as they come.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

class Json {
public:
    void key(const char* k) {
        comma();
        out_ += '"';
        out_ += k;  // keys are plain ASCII literals
        out_ += "\":";
        pendingValue_ = true;
    }
    void str(const char* s) {
        comma();
        out_ += '"';
        for (; *s; ++s) escape(static_cast<unsigned char>(*s));
        out_ += '"';
    }
    void wstr(const std::wstring& s) {
        comma();
        out_ += '"';
        for (wchar_t c : s) escape(static_cast<unsigned>(c) & 0xFFFF);
        out_ += '"';
    }
    void num(long long v) {
        comma();
        out_ += std::to_string(v);
    }
    void boolean(bool b) {
        comma();
        out_ += b ? "true" : "false";
    }
    void null() {
        comma();
        out_ += "null";
    }
    void hwnd(HWND h) {
        if (!h) { null(); return; }
        char buf[32];
        // All of the handle: 64 bits in the 64-bit build.
        std::snprintf(buf, sizeof buf, "#%llx", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(h)));
        str(buf);
    }
    void rect(const RECT& r) {
        begin('[');
        num(r.left); num(r.top); num(r.right); num(r.bottom);
        end(']');
    }
    void begin(char c) {
        comma();
        out_ += c;
        first_ = true;
    }
    void end(char c) {
        out_ += c;
        first_ = false;
    }
    const std::string& text() const { return out_; }

private:
    void comma() {
        if (pendingValue_) { pendingValue_ = false; return; }
        if (!first_ && !out_.empty()) out_ += ',';
        first_ = false;
    }
    void escape(unsigned c) {
        switch (c) {
        case '"': out_ += "\\\""; return;
        case '\\': out_ += "\\\\"; return;
        case '\n': out_ += "\\n"; return;
        case '\r': out_ += "\\r"; return;
        case '\t': out_ += "\\t"; return;
        default: break;
        }
        if (c < 0x20 || c > 0x7E) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out_ += buf;
        } else {
            out_ += static_cast<char>(c);
        }
    }
    std::string out_;
    bool first_ = true;
    bool pendingValue_ = false;
};
