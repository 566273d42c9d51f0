// What the dynamic linker sees of each deliverable: only the format's entry points are exported, and no
// symbol is STB_GNU_UNIQUE (which would pin the module in memory and share statics between modules).
#include "tests/formats/FormatTestSupport.h"

#include "host/Vst3Host.h"

#include <elf.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

namespace nx::test {
namespace {

struct DynSymbols {
    bool ok = false;
    std::set<std::string> defined; // global or weak, defined in the module
    std::set<std::string> unique;  // STB_GNU_UNIQUE, defined or not
};

DynSymbols readDynamicSymbols(const std::string& path) {
    DynSymbols out;
    std::ifstream f(path, std::ios::binary);
    const std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() < sizeof(Elf64_Ehdr)) return out;
    Elf64_Ehdr eh;
    std::memcpy(&eh, b.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return out;
    auto section = [&](size_t i, Elf64_Shdr& sh) {
        const size_t off = size_t(eh.e_shoff) + i * eh.e_shentsize;
        if (off + sizeof sh > b.size()) return false;
        std::memcpy(&sh, b.data() + off, sizeof sh);
        return true;
    };
    for (size_t i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sym;
        if (!section(i, sym) || sym.sh_type != SHT_DYNSYM) continue;
        Elf64_Shdr str;
        if (!section(sym.sh_link, str) || str.sh_offset + str.sh_size > b.size() ||
            sym.sh_offset + sym.sh_size > b.size())
            return out;
        for (size_t k = 1; k < sym.sh_size / sizeof(Elf64_Sym); ++k) {
            Elf64_Sym s;
            std::memcpy(&s, b.data() + sym.sh_offset + k * sizeof s, sizeof s);
            if (s.st_name >= str.sh_size) continue;
            const std::string name = b.data() + str.sh_offset + s.st_name;
            const int bind = ELF64_ST_BIND(s.st_info);
            if (bind == STB_GNU_UNIQUE) out.unique.insert(name);
            if (s.st_shndx != SHN_UNDEF && (bind == STB_GLOBAL || bind == STB_WEAK || bind == STB_GNU_UNIQUE))
                out.defined.insert(name);
        }
        out.ok = true;
    }
    return out;
}

TEST(Exports, EachDeliverableExportsOnlyItsEntryPoints) {
    struct Case {
        std::string path;
        std::set<std::string> entries;
    };
    const Case cases[] = {
        {NX_CLAP_PATH, {"clap_entry"}},
        {host::vst3BinaryPath(NX_VST3_PATH), {"GetPluginFactory", "ModuleEntry", "ModuleExit"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const DynSymbols s = readDynamicSymbols(c.path);
        ASSERT_TRUE(s.ok) << "no dynamic symbol table";
        for (const auto& e : c.entries)
            EXPECT_TRUE(s.defined.count(e)) << "entry point " << e << " is not exported";
        std::vector<std::string> extra;
        std::set_difference(s.defined.begin(), s.defined.end(), c.entries.begin(), c.entries.end(),
                            std::back_inserter(extra));
        EXPECT_TRUE(extra.empty()) << extra.size()
                                   << " further exported symbols, the first: " << extra.front();
        EXPECT_TRUE(s.unique.empty()) << "STB_GNU_UNIQUE symbol: " << *s.unique.begin();
    }
}

} // namespace
} // namespace nx::test
