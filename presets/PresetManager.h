// The preset list the editor's browser shows: built-in presets first (supplied by a subclass), then the
// user's presets read from small text files in a per-user directory. Writes, rescans and deletes user
// preset files, tracks the current preset and whether the parameters changed since it was loaded.
// Used from the editor's UI thread and the plug-in's constructor; never from the audio thread. The list
// and the current index are guarded by `mutex`; `modified` is atomic (set from the parameter-change path).
#pragma once

#include "presets/PresetNumberText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nx {

struct Preset {
    std::string name;              // display name; never empty for an entry read from disk
    std::string category = "User"; // "Factory" for built-in presets
    std::vector<double> values;    // plain parameter values in parameter-table order
    uint32_t advOverrideMask = 0;  // bit i belongs to parameter 13 + i
    bool isFactory = false;
    // The file this entry was read from (empty for built-in presets). Kept in memory only, never written:
    // deleting an entry removes exactly this file, whatever its name line says.
    std::string sourcePath;
};

class PresetManager {
public:
    struct CategoryInfo {
        std::string name;
        std::vector<int32_t> presetIndices; // ascending indices into `presets`
    };

    // A preset file is a few hundred bytes; anything larger than this is not read at all.
    static constexpr long kMaxFileBytes = 64 * 1024;
    // A rescan reads at most this many preset files, so a huge directory cannot stall the editor.
    static constexpr size_t kMaxUserPresets = 4096;
    static constexpr size_t kMaxStemBytes = 64;

    PresetManager(const char* productName_, const char* extension_, int32_t numParams_)
        : productName(productName_ ? productName_ : ""), extension(extension_ ? extension_ : ""),
          numParams(std::max<int32_t>(0, numParams_)) {}
    virtual ~PresetManager() = default;
    PresetManager(const PresetManager&) = delete;
    PresetManager& operator=(const PresetManager&) = delete;

    // Fills the list with the built-in presets; this base has none and only empties the list.
    virtual void LoadFactoryPresets() {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        presets.clear();
    }

    std::vector<Preset> presets; // factory presets first, then user presets
    int32_t currentIndex = 0;    // may lie outside the list: readers check it against presets.size()
    int32_t factoryCount = 0;    // leading built-in entries that survive a rescan
    std::atomic<bool> modified{false};
    mutable std::recursive_mutex mutex;
    const char* productName;                // not owned
    const char* extension;                  // not owned, without the dot
    int32_t numParams;                      //
    const char* const* paramKeys = nullptr; // numParams file keys (entries may be null); not owned

    // $XDG_CONFIG_HOME/VornAudio/<product>/Presets, else $HOME/.config/VornAudio/<product>/Presets, else
    // empty. Takes no lock: it reads only fields fixed at construction.
    std::string GetUserPresetsDir() const {
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        if (xdg && *xdg) return std::string(xdg) + "/VornAudio/" + productName + "/Presets";
        const char* home = std::getenv("HOME");
        if (home) return std::string(home) + "/.config/VornAudio/" + productName + "/Presets";
        return {};
    }

    // File stem for a preset name, byte-wise: control bytes (below 0x20, and 0x7F) removed, cut to 64
    // bytes, then each of " * / : < > ? \ | replaced by '_'. Bytes from 0x80 stay (a cut may split a
    // multi-byte character). The result contains no '/', so it never leaves the preset directory.
    static std::string SanitizeFileStem(const std::string& name) {
        std::string stem;
        stem.reserve(std::min(name.size(), kMaxStemBytes));
        for (const char c : name) {
            const auto b = static_cast<unsigned char>(c);
            if (b >= 0x20 && b != 0x7F) stem.push_back(c);
        }
        if (stem.size() > kMaxStemBytes) stem.resize(kMaxStemBytes);
        for (char& c : stem) {
            switch (c) {
            case '"':
            case '*':
            case '/':
            case ':':
            case '<':
            case '>':
            case '?':
            case '\\':
            case '|':
                c = '_';
                break;
            default:
                break;
            }
        }
        return stem;
    }

    // Reads one preset file and appends the preset it describes (only when it names one). Unreadable,
    // oversized and non-regular files are skipped.
    void LoadPresetFile(const std::string& path) {
        std::string text;
        if (ReadSmallFile(path, text)) LoadPresetText(text, path);
    }

    // Parses the text of a preset file read from sourcePath and appends the preset it names. Lines are
    // "key=value", neither side trimmed; a later duplicate wins; keys that match nothing are ignored;
    // parameters the text does not set (or sets to a non-finite number) keep the first built-in
    // preset's values. Values are not range-checked here; applying a preset constrains them.
    void LoadPresetText(std::string_view text, const std::string& sourcePath) {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        Preset p;
        p.category = "User";
        p.sourcePath = sourcePath;
        if (factoryCount > 0 && !presets.empty() && presets.front().values.size() == size_t(numParams))
            p.values = presets.front().values;
        else
            p.values.assign(size_t(numParams), 0.0);

        std::string_view rest(text);
        while (!rest.empty()) {
            const size_t lf = rest.find('\n');
            const std::string_view line = rest.substr(0, lf);
            rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
            if (line.empty() || line.front() == '#') continue;
            const size_t eq = line.find('=');
            if (eq == std::string_view::npos) continue;
            // Neither side is trimmed: a space or a carriage return belongs to the key or the value.
            const std::string_view key = line.substr(0, eq);
            const std::string_view value = line.substr(eq + 1);
            if (key == "name") {
                p.name = UpToNul(value);
            } else if (key == "category") {
                p.category = UpToNul(value);
            } else if (key == "advOverrideMask") {
                p.advOverrideMask = static_cast<uint32_t>(presettext::ParseLeadingULong(value));
            } else if (paramKeys) {
                for (int32_t i = 0; i < numParams; ++i) {
                    if (!paramKeys[i] || key != paramKeys[i]) continue;
                    const double v = presettext::ParseLeadingDouble(value);
                    if (std::isfinite(v)) p.values[size_t(i)] = v;
                    break;
                }
            }
        }
        if (!p.name.empty()) presets.push_back(std::move(p));
    }

    // Rebuilds the user part of the list from the directory (directory order, unsorted) and restores the
    // selection: the entry read from the same file under the same name, else the first of that name.
    // keys, when not null, becomes the stored key table.
    void ScanUserPresets(const char* const* keys) {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (keys) paramKeys = keys;

        bool remembered = false;
        std::string rememberedName, rememberedPath;
        if (currentIndex >= 0 && size_t(currentIndex) < presets.size()) {
            remembered = true;
            rememberedName = presets[size_t(currentIndex)].name;
            rememberedPath = presets[size_t(currentIndex)].sourcePath;
        }

        // Everything after the built-in entries comes from the directory again (also when there are
        // none: entries of an earlier scan must never be listed twice).
        presets.resize(size_t(std::max<int32_t>(0, factoryCount)));

        const std::string dir = GetUserPresetsDir();
        if (dir.empty()) return;
        DIR* d = ::opendir(dir.c_str());
        if (!d) return;
        const std::string suffix = std::string(".") + extension;
        size_t filesRead = 0;
        while (const dirent* e = ::readdir(d)) {
            const std::string_view entry(e->d_name);
            if (entry.size() <= suffix.size() || !entry.ends_with(suffix)) continue;
            if (filesRead++ >= kMaxUserPresets) break;
            LoadPresetFile(dir + "/" + std::string(entry));
        }
        ::closedir(d);

        int32_t found = -1;
        if (remembered) {
            if (!rememberedPath.empty()) found = FindPreset(rememberedName, rememberedPath, false);
            if (found < 0) found = FindPreset(rememberedName, std::string(), false);
        }
        if (found >= 0)
            currentIndex = found;
        else if (currentIndex < 0 || size_t(currentIndex) >= presets.size())
            currentIndex = 0;
    }

    // Writes a user preset file (replacing one of the same file stem as a whole), rescans and selects it.
    // The file is written to a fresh temporary file, flushed to disk and renamed over the old one, so
    // after a crash either the old or the new preset is there; a failed save leaves the old file and no
    // temporary file. False when name, values or keys is null, the name is empty, holds a line feed or
    // has no usable file stem, no directory can be derived, or any file operation fails.
    bool SaveUserPreset(const char* name, const double* values, int32_t count, uint32_t advOverrideMask,
                        const char* const* keys) {
        if (!values || !keys || !name) return false;
        const std::string nameStr(name);
        // A line feed in the name would end its line and let the rest be read as further keys.
        if (nameStr.find('\n') != std::string::npos) return false;

        std::lock_guard<std::recursive_mutex> lock(mutex);
        const std::string dir = GetUserPresetsDir();
        if (dir.empty()) return false;
        MakeDirectories(dir);
        const std::string stem = SanitizeFileStem(nameStr);
        if (stem.empty()) return false;
        const std::string path = dir + "/" + stem + "." + extension;

        if (!WriteFileReplacing(dir, path, FormatPresetText(nameStr, values, count, advOverrideMask, keys)))
            return false;

        // Without a stored key table the rescan could not read back the values just written.
        ScanUserPresets(paramKeys ? nullptr : keys);
        int32_t found = FindPreset(nameStr, path, true);
        if (found < 0) found = FindPreset(nameStr, std::string(), true);
        if (found >= 0) {
            currentIndex = found;
            modified.store(false);
        }
        return true;
    }

    // Deletes the file the user preset at index was read from, then rescans. The selection follows its
    // preset; when the deleted preset was the current one, the parameters now match no stored preset and
    // `modified` is set, otherwise it stays as it was. False for a built-in or out-of-range entry, or
    // when the file cannot be removed (the list is then unchanged).
    bool DeleteUserPreset(int32_t index) {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (index < 0 || size_t(index) >= presets.size()) return false;
        const Preset& p = presets[size_t(index)];
        if (p.isFactory || p.sourcePath.empty()) return false;
        const bool wasCurrent = index == currentIndex;
        if (::unlink(p.sourcePath.c_str()) != 0) return false;
        ScanUserPresets(nullptr);
        if (currentIndex < 0 || size_t(currentIndex) >= presets.size()) currentIndex = 0;
        if (wasCurrent) modified.store(true);
        return true;
    }

    // The list grouped by category, in order of first appearance, indices ascending.
    std::vector<CategoryInfo> BuildCategoryList() const {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        std::vector<CategoryInfo> cats;
        for (size_t i = 0; i < presets.size(); ++i) {
            auto it = std::find_if(cats.begin(), cats.end(),
                                   [&](const CategoryInfo& c) { return c.name == presets[i].category; });
            if (it == cats.end()) {
                cats.push_back(CategoryInfo{presets[i].category, {}});
                it = cats.end() - 1;
            }
            it->presetIndices.push_back(static_cast<int32_t>(i));
        }
        return cats;
    }

    // The "Preset v1" text: header, name, category "User", one "key=value" line per parameter with a
    // key, the mask; every line ends with a line feed.
    std::string FormatPresetText(const std::string& name, const double* values, int32_t count,
                                 uint32_t advOverrideMask, const char* const* keys) const {
        std::string text = std::string("# ") + productName + " Preset v1\n";
        text += "name=" + name + "\n";
        text += "category=User\n";
        const int32_t n = std::min(std::max<int32_t>(0, count), numParams);
        for (int32_t i = 0; i < n; ++i) {
            if (!keys[i]) continue;
            text += keys[i];
            text += '=';
            text += presettext::FormatG6(values[i]);
            text += '\n';
        }
        text += "advOverrideMask=" + presettext::FormatUnsigned(advOverrideMask) + "\n";
        return text;
    }

private:
    static std::string UpToNul(std::string_view v) { return std::string(v.substr(0, v.find('\0'))); }

    // First entry with this name (and this source file, when path is not empty).
    int32_t FindPreset(const std::string& name, const std::string& path, bool userOnly) const {
        for (size_t i = 0; i < presets.size(); ++i) {
            const Preset& p = presets[i];
            if (userOnly && p.isFactory) continue;
            if (p.name == name && (path.empty() || p.sourcePath == path)) return static_cast<int32_t>(i);
        }
        return -1;
    }

    // Reads a regular file of at most kMaxFileBytes. Opened non-blocking so that a FIFO or device that
    // happens to carry the extension can never stall the caller.
    static bool ReadSmallFile(const std::string& path, std::string& out) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) return false;
        struct stat st {};
        bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileBytes;
        if (ok) {
            out.resize(size_t(kMaxFileBytes) + 1);
            size_t got = 0;
            while (got < out.size()) {
                const ssize_t r = ::read(fd, out.data() + got, out.size() - got);
                if (r < 0 && errno == EINTR) continue;
                if (r < 0) {
                    ok = false;
                    break;
                }
                if (r == 0) break;
                got += size_t(r);
            }
            // A file that grew past the bound while it was read is not a preset either.
            ok = ok && got <= size_t(kMaxFileBytes);
            out.resize(ok ? got : 0);
        }
        ::close(fd);
        return ok;
    }

    // Creates dir and its parents with mode 0755; errors are ignored (the save fails later if needed).
    static void MakeDirectories(const std::string& dir) {
        for (size_t p = 1; p < dir.size(); ++p)
            if (dir[p] == '/') ::mkdir(dir.substr(0, p).c_str(), 0755);
        ::mkdir(dir.c_str(), 0755);
    }

    static bool WriteAll(int fd, const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += size_t(w);
        }
        return true;
    }

    // Writes text to a temporary file of a name unique to this save (created exclusively, never through
    // a link), flushes it to disk, renames it over path and flushes the directory.
    static bool WriteFileReplacing(const std::string& dir, const std::string& path, const std::string& text) {
        static std::atomic<uint32_t> sTempCounter{0};
        std::string tmp;
        int fd = -1;
        for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
            const uint64_t salt = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                                  (uint64_t(std::hash<std::thread::id>{}(std::this_thread::get_id())) << 1);
            tmp = path + "." + presettext::FormatUnsigned(uint64_t(::getpid())) + "-" +
                  presettext::FormatUnsigned(sTempCounter.fetch_add(1)) + "-" +
                  presettext::FormatUnsigned(salt % 1000000007ULL) + ".tmp";
            fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0 && errno != EEXIST) return false;
        }
        if (fd < 0) return false;

        bool ok = WriteAll(fd, text);
        ok = ok && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
            ::unlink(tmp.c_str());
            return false;
        }
        // Make the rename itself durable; some file systems refuse fsync on a directory, which is harmless.
        const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
        return true;
    }
};

} // namespace nx
