#include "link_plan.h"

#include "platform/path_rules.h"

namespace stkit {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool isForbiddenChar(wchar_t c) {
    if (c < 0x20) return true;
    switch (c) {
        case L'<': case L'>': case L':': case L'"': case L'/': case L'\\': case L'|': case L'?': case L'*':
            return true;
        default:
            return false;
    }
}

}  // namespace

bool isValidComponent(const std::wstring& s) {
    if (s.empty() || s == L"." || s == L"..") return false;
    for (wchar_t c : s) {
        if (isForbiddenChar(c)) return false;
    }
    if (s.back() == L'.' || s.back() == L' ') return false;
    return !platform::IsReservedDeviceName(s);
}

bool isValidLinkName(const std::wstring& name) {
    return !name.empty() && isValidComponent(name + L".lnk");
}

bool splitGroup(const std::wstring& folder, std::vector<std::wstring>& levels) {
    levels.clear();
    if (folder.empty()) return true;
    if (isSeparator(folder.front())) return false;  // "\Group" or "\\server\share"
    std::size_t start = 0;
    while (start < folder.size()) {
        std::size_t end = start;
        while (end < folder.size() && !isSeparator(folder[end])) ++end;
        std::wstring level = folder.substr(start, end - start);
        if (!isValidComponent(level)) return false;  // also catches "C:", "..", and "A\\B"
        levels.push_back(level);
        start = end + 1;
    }
    return true;
}

std::wstring workingDirectoryOf(const std::wstring& target) {
    std::size_t slash = target.rfind(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    if (slash == 2 && platform::StartsWithDriveRoot(target)) return target.substr(0, 3);
    return target.substr(0, slash);
}

std::wstring joinPath(const std::wstring& dir, const std::wstring& component) {
    if (dir.empty()) return component;
    if (dir.back() == L'\\') return dir + component;
    return dir + L'\\' + component;
}

bool checkRequest(const LinkRequest& request, std::vector<std::wstring>& levels) {
    return !request.target.empty() && isValidLinkName(request.name) && splitGroup(request.folder, levels);
}

bool planLink(const LinkRequest& request, const std::wstring& programs, std::vector<std::wstring>& dirs,
              LinkDetails& details) {
    dirs.clear();
    std::vector<std::wstring> levels;
    if (programs.empty() || !checkRequest(request, levels)) return false;
    std::wstring dir = programs;
    for (const std::wstring& level : levels) {
        dir = joinPath(dir, level);
        dirs.push_back(dir);
    }
    details.linkPath = joinPath(dir, request.name + L".lnk");
    details.target = request.target;
    details.arguments = request.arguments;
    details.workingDirectory = workingDirectoryOf(request.target);
    details.description = request.name;
    details.iconPath = request.target;
    details.iconIndex = 0;
    return true;
}

namespace {

// One attempt in one Programs folder.
bool createLinkIn(const std::wstring& programs, const LinkRequest& request, LinkWriter& writer) {
    std::vector<std::wstring> dirs;
    LinkDetails details;
    if (!planLink(request, programs, dirs, details)) return false;

    std::vector<std::wstring> created;
    bool ok = true;
    for (const std::wstring& dir : dirs) {
        DirResult r = writer.makeDir(dir);
        if (r == DirResult::Failed) {
            ok = false;
            break;
        }
        if (r == DirResult::Created) created.push_back(dir);
    }
    if (ok) ok = writer.save(details);
    if (!ok) {
        for (auto it = created.rbegin(); it != created.rend(); ++it) writer.removeDir(*it);
    }
    return ok;
}

}  // namespace

bool createLink(const LinkRequest& request, LinkWriter& writer) {
    // Reject bad arguments before touching anything.
    std::vector<std::wstring> levels;
    if (!checkRequest(request, levels)) return false;

    for (Scope scope : {Scope::AllUsers, Scope::CurrentUser}) {
        std::wstring programs;
        if (writer.programsFolder(scope, programs) && createLinkIn(programs, request, writer)) return true;
    }
    return false;
}

}  // namespace stkit
