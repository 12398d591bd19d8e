#include "support/library_e2e.h"

#include <cstdio>
#include <filesystem>

qob::Module defining(const std::vector<std::string>& publics) {
    std::vector<qob::TriSym> symbols;
    for (const std::string& name : publics) {
        symbols.push_back({static_cast<std::uint32_t>(0x100 + symbols.size()), name});
    }
    qob::Module m;
    m.f0().f4(1, symbols).end();
    return m;
}

std::string count_lines(int modules, int symbols) {
    char text[80];
    std::snprintf(text, sizeof text, "MODULE COUNT         %06d\nGLOBAL SYMBOL COUNT  %06d\n",
                  modules, symbols);
    return text;
}

void LibraryE2E::write_module(const std::string& name, const qob::Module& module) const {
    write(name, module.bytes());
}

RunResult LibraryE2E::append(const std::string& library, const NameList& files,
                             const std::string& options, const EnvMap& env) {
    NameList args{options, "-o", library, "-f"};
    args.insert(args.end(), files.begin(), files.end());
    return run(args, env);
}

lib::Library LibraryE2E::library(const std::string& name) const {
    // Every library the librarian writes keeps every rule of the format.
    if (check_libraries_) {
        const RunResult check = run_dump({"--check", name});
        EXPECT_EQ(check.status, 0) << check.out << check.err;
    }
    return lib::parse(read(name));
}

NameList LibraryE2E::working_files(const std::string& sub) const {
    NameList found;
    const std::filesystem::path where = sub.empty() ? dir() : dir() / sub;
    for (const auto& entry : std::filesystem::directory_iterator(where)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".$$1" || ext == ".$$2" || ext == ".$$3") {
            found.push_back(entry.path().filename().string());
        }
    }
    return found;
}
