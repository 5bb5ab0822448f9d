// The generated GEDCOM files the benchmarks read.
//
// One file per encoding, of about LIGNOR_BENCH_SIZE_MB MiB (default 50),
// named document-<encoding>-<size>mb.ged, looked for in the folder named by
// LIGNOR_BENCH_DATA or else in bench-data/ of the build tree. A missing file
// is written there first by bench/generate_gedcom.py (deterministic: the same
// size always gives the same bytes). Generated files never enter the source
// tree.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include "document.hpp"

namespace bench {

namespace fs = std::filesystem;

inline int size_mb() {
    const char* text = std::getenv("LIGNOR_BENCH_SIZE_MB");
    return text ? std::atoi(text) : 50;
}

inline fs::path data_folder() {
    const char* folder = std::getenv("LIGNOR_BENCH_DATA");
    return folder ? fs::path(folder) : fs::path(LIGNOR_BENCH_DATA_DIR);
}

inline std::string shell_quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline void generate(const fs::path& file, const std::string& encoding) {
    fs::create_directories(file.parent_path());
    const fs::path partial = file.string() + ".partial";
    const std::string command =
        "/usr/bin/python3 " + shell_quoted(std::string(LIGNOR_BENCH_DIR) + "/generate_gedcom.py") +
        " --size-mb " + std::to_string(size_mb()) + " --encoding " + encoding + " --output " +
        shell_quoted(partial.string());
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    // Renamed only when complete, so an interrupted run never leaves a short file.
    fs::rename(partial, file);
}

// The bytes of one generated file, read once per run.
inline const std::string& input(const std::string& encoding) {
    static std::map<std::string, std::string> loaded;
    if (auto found = loaded.find(encoding); found != loaded.end()) return found->second;
    const fs::path file =
        data_folder() / ("document-" + encoding + "-" + std::to_string(size_mb()) + "mb.ged");
    if (!fs::exists(file)) generate(file, encoding);
    std::string bytes(fs::file_size(file), '\0');
    std::ifstream stream(file, std::ios::binary);
    if (!stream.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("cannot read " + file.string());
    }
    return loaded.emplace(encoding, std::move(bytes)).first->second;
}

// One parsed document per encoding, read once per run, untimed.
inline const lignor::Document& document(const std::string& encoding) {
    static std::map<std::string, lignor::Document> parsed;
    if (auto found = parsed.find(encoding); found != parsed.end()) return found->second;
    auto loaded = lignor::Document::from_bytes(input(encoding));
    if (!loaded) throw std::runtime_error(encoding + ": " + loaded.error().display());
    return parsed.emplace(encoding, std::move(loaded->document)).first->second;
}

}  // namespace bench
