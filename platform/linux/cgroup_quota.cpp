#include "cgroup_quota.h"

namespace {

constexpr size_t kPathSize = 4096;

// A piece of a text, [begin, end).
struct Slice {
    const char* begin;
    const char* end;
    size_t size() const { return static_cast<size_t>(end - begin); }
};

bool equals(Slice slice, const char* text) {
    for (const char* p = slice.begin; p != slice.end; ++p, ++text)
        if (*text != *p) return false;
    return *text == '\0';
}

// The line of `text` that starts at *cursor, without its newline; moves
// *cursor past it.
bool next_line(const char** cursor, Slice* line) {
    const char* p = *cursor;
    if (*p == '\0') return false;
    line->begin = p;
    while (*p != '\0' && *p != '\n') ++p;
    line->end = p;
    *cursor = *p == '\n' ? p + 1 : p;
    return true;
}

// Field `index` of `line` split at `separator`; false if the line has fewer.
bool field(Slice line, char separator, int index, Slice* out) {
    const char* start = line.begin;
    for (const char* p = line.begin;; ++p) {
        if (p == line.end || *p == separator) {
            if (index-- == 0) {
                *out = Slice{start, p};
                return true;
            }
            if (p == line.end) return false;
            start = p + 1;
        }
    }
}

bool list_has(Slice list, const char* item) {
    Slice entry;
    for (int index = 0; field(list, ',', index, &entry); ++index)
        if (equals(entry, item)) return true;
    return false;
}

// The process's group in the v2 hierarchy ("0::path") or in the v1
// hierarchy that has the cpu controller ("id:cpu,cpuacct:path").
bool group_path(const char* cgroup_text, bool v2, Slice* path) {
    Slice line, id, controllers;
    for (const char* cursor = cgroup_text; next_line(&cursor, &line);) {
        if (!field(line, ':', 0, &id) || !field(line, ':', 1, &controllers)) continue;
        // The path may itself hold colons: it is the rest of the line.
        const char* rest = controllers.end + 1;
        if (rest > line.end) continue;
        const bool match = v2 ? equals(id, "0") && controllers.size() == 0
                              : list_has(controllers, "cpu");
        if (match) {
            *path = Slice{rest, line.end};
            return true;
        }
    }
    return false;
}

// Copies a path field of mountinfo, whose spaces, tabs, newlines and
// backslashes are written as octal escapes (\040).
bool unescape(Slice escaped, char* out, size_t size) {
    size_t used = 0;
    for (const char* p = escaped.begin; p != escaped.end; ++p) {
        char c = *p;
        if (c == '\\' && escaped.end - p >= 4) {
            c = static_cast<char>((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
            p += 3;
        }
        if (used + 1 >= size) return false;
        out[used++] = c;
    }
    out[used] = '\0';
    return true;
}

// Where the hierarchy is mounted: the group path its mount shows as its
// root, and the mount point. A mountinfo line reads "id parent dev root
// point options [optional fields] - type source super-options".
bool mount_of(const char* mountinfo_text, bool v2, char* root, char* point) {
    Slice line;
    for (const char* cursor = mountinfo_text; next_line(&cursor, &line);) {
        Slice dash;
        int index = 6;
        while (field(line, ' ', index, &dash) && !equals(dash, "-")) ++index;
        Slice type, super_options, root_field, point_field;
        if (!field(line, ' ', index + 1, &type) || !field(line, ' ', index + 3, &super_options) ||
            !field(line, ' ', 3, &root_field) || !field(line, ' ', 4, &point_field))
            continue;
        const bool match = v2 ? equals(type, "cgroup2")
                              : equals(type, "cgroup") && list_has(super_options, "cpu");
        if (match && unescape(root_field, root, kPathSize) &&
            unescape(point_field, point, kPathSize))
            return true;
    }
    return false;
}

// A decimal integer after optional spaces; false if there is none.
bool parse_integer(const char* text, int64_t* value) {
    while (*text == ' ') ++text;
    const bool negative = *text == '-';
    if (negative) ++text;
    if (*text < '0' || *text > '9') return false;
    int64_t result = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (result > (INT64_MAX - 9) / 10) return false;
        result = result * 10 + (*text - '0');
    }
    *value = negative ? -result : result;
    return true;
}

int32_t processors_for(int64_t quota, int64_t period) {
    if (quota <= 0 || period <= 0) return 0;
    const int64_t processors = quota / period + (quota % period != 0);
    return processors < INT32_MAX ? static_cast<int32_t>(processors) : INT32_MAX;
}

// The quota set in the group directory `directory`, or 0 for none.
int32_t directory_limit(const char* directory, bool v2, ReadText read, void* context) {
    char path[kPathSize + 32];
    char text[128];
    size_t length = 0;
    while (directory[length] != '\0') path[length] = directory[length], ++length;
    auto read_file = [&](const char* name) {
        size_t k = 0;
        for (; name[k] != '\0'; ++k) path[length + k] = name[k];
        path[length + k] = '\0';
        return read(context, path, text, sizeof text);
    };
    int64_t quota = 0, period = 0;
    if (v2) {
        // "max 100000" or "150000 100000".
        if (!read_file("/cpu.max") || !parse_integer(text, &quota)) return 0;
        const char* second = text;
        while (*second != '\0' && *second != ' ') ++second;
        return parse_integer(second, &period) ? processors_for(quota, period) : 0;
    }
    if (!read_file("/cpu.cfs_quota_us") || !parse_integer(text, &quota)) return 0;
    if (!read_file("/cpu.cfs_period_us") || !parse_integer(text, &period)) return 0;
    return processors_for(quota, period);
}

// The tightest quota from the process's group up to the mount point.
int32_t hierarchy_limit(const char* cgroup_text, const char* mountinfo_text, bool v2,
                        ReadText read, void* context) {
    Slice group;
    char root[kPathSize], directory[kPathSize];
    if (!group_path(cgroup_text, v2, &group) || !mount_of(mountinfo_text, v2, root, directory))
        return 0;
    // The group below the mount's root; a group outside it (another
    // namespace's view) is taken as the root itself.
    size_t root_length = 0;
    while (root[root_length] != '\0') ++root_length;
    if (root_length == 1) root[root_length = 0] = '\0';  // the root "/"
    Slice below{group.end, group.end};
    if (group.size() >= root_length && equals(Slice{group.begin, group.begin + root_length}, root) &&
        (group.size() == root_length || group.begin[root_length] == '/'))
        below = Slice{group.begin + root_length, group.end};
    size_t point_length = 0;
    while (directory[point_length] != '\0') ++point_length;
    size_t length = point_length;
    if (length + below.size() >= kPathSize) return 0;
    for (const char* p = below.begin; p != below.end; ++p) directory[length++] = *p;
    while (length > point_length && directory[length - 1] == '/') --length;
    directory[length] = '\0';

    int32_t tightest = 0;
    for (;;) {
        const int32_t limit = directory_limit(directory, v2, read, context);
        if (limit > 0 && (tightest == 0 || limit < tightest)) tightest = limit;
        if (length <= point_length) break;
        while (length > point_length && directory[length - 1] != '/') --length;
        while (length > point_length && directory[length - 1] == '/') --length;
        directory[length] = '\0';
    }
    return tightest;
}

}  // namespace

int32_t cgroup_cpu_limit(const char* cgroup_text, const char* mountinfo_text, ReadText read,
                         void* context) {
    int32_t tightest = 0;
    const bool hierarchies[] = {true, false};  // v2, then v1
    for (bool v2 : hierarchies) {
        const int32_t limit = hierarchy_limit(cgroup_text, mountinfo_text, v2, read, context);
        if (limit > 0 && (tightest == 0 || limit < tightest)) tightest = limit;
    }
    return tightest;
}
