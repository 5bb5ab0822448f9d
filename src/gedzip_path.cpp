// The entry-path policy: which names an archive may hold (safe to extract on
// Windows, macOS and Linux), which entries are compressed, and the key two
// names collide under.
#include <string>

#include "ascii.hpp"
#include "gedzip.hpp"
#include "gedzip_format.hpp"
#include "unicode.hpp"

namespace lignor {
namespace {

using zip::zip_error;

bool is_control(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

bool is_windows_device(std::string_view component) {
    const std::string_view stem = component.substr(0, component.find('.'));
    if (stem.empty()) return false;
    const std::string upper = ascii::upper_copy(stem);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (upper == device) return true;
    }
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
}

Status check_component(std::string_view path, std::string_view component) {
    if (component.empty() || component == "." || component == "..") {
        return zip_error(std::string(path) + " contains an unsafe path component");
    }
    if (component.back() == ' ' || component.back() == '.' || is_windows_device(component)) {
        return zip_error(std::string(path) +
                         " contains a path component that is unsafe on Windows");
    }
    return ok();
}

}  // namespace

Status validate_entry_path(std::string_view path) {
    if (path.empty()) return zip_error("the archive contains a file with no name");
    if (path.size() > 4096)
        return zip_error("the archive contains a file with an unreasonably long path");
    const std::string text(path);
    if (path.front() == '/' || path.front() == '\\')
        return zip_error(text + " is an absolute path");
    if (path.find('\\') != std::string_view::npos)
        return zip_error(text + " uses a backslash, which a ZIP path may not");
    for (std::size_t at = 0; at < path.size();) {
        if (is_control(unicode::next_code_point(path, at))) {
            return zip_error("the archive contains a control character in a file path");
        }
    }
    if (path.find_first_of("\"*:<>?|") != std::string_view::npos) {
        return zip_error(text + " contains a character that is unsafe in a portable path");
    }
    std::string_view rest = path.ends_with('/') ? path.substr(0, path.size() - 1) : path;
    for (;;) {
        const std::size_t slash = rest.find('/');
        if (Status safe = check_component(path, rest.substr(0, slash)); !safe) return safe;
        if (slash == std::string_view::npos) return ok();
        rest.remove_prefix(slash + 1);
    }
}

bool should_deflate(std::string_view name) {
    const std::string lower = ascii::lower_copy(name);
    for (const char* suffix : {".ged", ".txt", ".xml", ".json", ".csv", ".md", ".svg"}) {
        if (lower.ends_with(suffix)) return true;
    }
    return false;
}

namespace {

std::string_view without_trailing_slashes(std::string_view name) {
    while (name.ends_with('/')) name.remove_suffix(1);
    return name;
}

}  // namespace

std::string entry_path_key(std::string_view name) {
    return ascii::lower_copy(without_trailing_slashes(name));
}

GedcomError colliding_path(std::string_view name, std::string_view earlier) {
    if (without_trailing_slashes(name) != without_trailing_slashes(earlier)) {
        return zip_error(std::string(name) + " differs from " + quoted(earlier) +
                         " only in letter case, so both would extract to one file where letter "
                         "case does not count (Windows, macOS)");
    }
    return zip_error("the archive contains the same path more than once (" + quoted(name) + ")");
}

}  // namespace lignor
