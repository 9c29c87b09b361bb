// The executable's version block: the layout the build embeds, the query of its
// texts, and finding its section in ELF files of every class and byte order,
// including damaged ones, which must give "no version" and never a crash.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FileVersion.h"
#include "platform/VersionInfo.h"

namespace quillon {
namespace {

constexpr TVersionStrings Strings{"0.8.0.0", "1.0.0.0", "Quillon", "Quillon route tracer",
                                  "quillon"};
constexpr auto Built = BuildVersionBlock(Strings);
constexpr auto BuiltBytes = VersionBlockBytes<Built.Size()>(Built);

std::string BlockText() {
  return std::string(reinterpret_cast<const char*>(BuiltBytes.data()), BuiltBytes.size());
}

std::uint32_t Le(const std::string& bytes, std::size_t offset, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = value << 8 | static_cast<std::uint8_t>(bytes[offset + i]);
  }
  return value;
}

const std::string FileVersionPath = "StringFileInfo\\040904E4\\FileVersion";

TEST(VersionBlock, BuiltBlockHasTheFixedLayout) {
  const std::string block = BlockText();
  ASSERT_EQ(block.size() % 4, 0u);
  EXPECT_EQ(Le(block, 0, 2), block.size()) << "root length covers the whole block";
  EXPECT_EQ(Le(block, 2, 2), 52u) << "fixed part: thirteen 32-bit numbers";
  EXPECT_EQ(Le(block, 4, 2), 0u) << "binary value";
  EXPECT_EQ(block.substr(6, 16), std::string("VS_VERSION_INFO\0", 16));
  // Key ends at 22, value starts at the next multiple of 4.
  EXPECT_EQ(Le(block, 24, 4), 0xFEEF04BDu);
  EXPECT_EQ(Le(block, 32, 4), 0x00000008u) << "file version 0.8.0.0: 0<<16|8";
  EXPECT_EQ(Le(block, 36, 4), 0x00000000u) << "then 0<<16|0";
  EXPECT_EQ(Le(block, 40, 4), 0x00000008u) << "product version as the file version";
  EXPECT_EQ(Le(block, 44, 4), 0x00000000u);
  EXPECT_EQ(Le(block, 56, 4), 0x00040004u) << "32-bit Windows";
  EXPECT_EQ(Le(block, 60, 4), 1u) << "an application";
}

TEST(VersionBlock, VersionNumbersSplitIntoHalves) {
  EXPECT_EQ(VersionNumbers("0.8.0.0"), (std::array<std::uint32_t, 2>{0x00000008, 0}));
  EXPECT_EQ(VersionNumbers("1.2.3.4"), (std::array<std::uint32_t, 2>{0x00010002, 0x00030004}));
  EXPECT_EQ(VersionNumbers("7"), (std::array<std::uint32_t, 2>{0x00070000, 0}));
  EXPECT_EQ(VersionNumbers("1.2.3.4.5"), (std::array<std::uint32_t, 2>{0x00010002, 0x00030004}));
}

TEST(VersionBlock, QueriesReturnTheEmbeddedTexts) {
  const std::string block = BlockText();
  EXPECT_EQ(QueryVersionText(block, FileVersionPath), "0.8.0.0");
  EXPECT_EQ(QueryVersionText(block, "StringFileInfo\\040904E4\\ProductVersion"), "1.0.0.0");
  EXPECT_EQ(QueryVersionText(block, "StringFileInfo\\040904E4\\ProductName"), "Quillon");
  // Present but empty.
  EXPECT_EQ(QueryVersionText(block, "StringFileInfo\\040904E4\\CompanyName"), "");
  // Keys compare without regard to letter case, as the classic query does.
  EXPECT_EQ(QueryVersionText(block, "stringfileinfo\\040904e4\\fileversion"), "0.8.0.0");
  EXPECT_EQ(QueryVersionText(block, "\\StringFileInfo\\040904E4\\FileVersion"), "0.8.0.0");
}

TEST(VersionBlock, QueriesThatLeadNowhereGiveNothing) {
  const std::string block = BlockText();
  // Only the US-English, code page 1252 block exists.
  EXPECT_FALSE(QueryVersionText(block, "StringFileInfo\\040704B0\\FileVersion"));
  EXPECT_FALSE(QueryVersionText(block, "StringFileInfo\\040904E4\\NoSuchKey"));
  // A binary value is no text.
  EXPECT_FALSE(QueryVersionText(block, "VarFileInfo\\Translation"));
  EXPECT_FALSE(QueryVersionText(block, ""));  // the root's value is binary
  EXPECT_FALSE(QueryVersionText("", FileVersionPath));
}

// A small hand-made block: root > "StringFileInfo" > "040904E4" > "FileVersion".
class CraftedBlock {
 public:
  std::string Bytes;
  std::size_t Node(const std::string& key, const std::string& value, int type) {
    Align();
    const std::size_t start = Bytes.size();
    Put16(0);
    Put16(static_cast<std::uint16_t>(value.size()));
    Put16(static_cast<std::uint16_t>(type));
    Bytes += key;
    Bytes += '\0';
    Align();
    Bytes += value;
    return start;
  }
  void End(std::size_t start) { Set16(start, Bytes.size() - start); }
  void Set16(std::size_t at, std::size_t value) {
    Bytes[at] = static_cast<char>(value & 0xFF);
    Bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
  }

 private:
  void Put16(std::uint16_t v) {
    Bytes += static_cast<char>(v & 0xFF);
    Bytes += static_cast<char>(v >> 8);
  }
  void Align() {
    while (Bytes.size() % 4 != 0) Bytes += '\0';
  }
};

struct CraftedOffsets {
  std::size_t Root, Info, Table, Comments, Leaf;
};

CraftedOffsets Craft(CraftedBlock& b, const std::string& version) {
  CraftedOffsets o{};
  o.Root = b.Node("VS_VERSION_INFO", "", 0);
  o.Info = b.Node("StringFileInfo", "", 1);
  o.Table = b.Node("040904E4", "", 1);
  o.Comments = b.Node("Comments", std::string("x\0", 2), 1);
  b.End(o.Comments);
  o.Leaf = b.Node("FileVersion", version, 1);
  b.End(o.Leaf);
  b.End(o.Table);
  b.End(o.Info);
  b.End(o.Root);
  return o;
}

TEST(VersionBlock, HandMadeBlockIsRead) {
  CraftedBlock b;
  Craft(b, std::string("2.5.1.0\0", 8));
  EXPECT_EQ(QueryVersionText(b.Bytes, FileVersionPath), "2.5.1.0");
}

TEST(VersionBlock, TextEndsAtItsFirstZeroOrAtTheValueEnd) {
  CraftedBlock withZero;
  Craft(withZero, std::string("3.1\0junk", 8));
  EXPECT_EQ(QueryVersionText(withZero.Bytes, FileVersionPath), "3.1");
  CraftedBlock unterminated;
  Craft(unterminated, "4.2");
  EXPECT_EQ(QueryVersionText(unterminated.Bytes, FileVersionPath), "4.2");
}

TEST(VersionBlock, DamagedBlocksGiveNothing) {
  CraftedBlock good;
  const CraftedOffsets o = Craft(good, std::string("2.5.1.0\0", 8));

  {  // A child claiming more bytes than its parent holds.
    CraftedBlock b = good;
    b.Set16(o.Leaf, 0x4000);
    EXPECT_FALSE(QueryVersionText(b.Bytes, FileVersionPath));
  }
  {  // A node too short to hold its own header: no endless walk.
    CraftedBlock b = good;
    b.Set16(o.Comments, 0);
    EXPECT_FALSE(QueryVersionText(b.Bytes, FileVersionPath));
  }
  {  // A value longer than its node.
    CraftedBlock b = good;
    b.Set16(o.Leaf + 2, 0x300);
    EXPECT_FALSE(QueryVersionText(b.Bytes, FileVersionPath));
  }
  {  // A key without its terminating zero.
    CraftedBlock b = good;
    const std::string cut = b.Bytes.substr(0, o.Leaf + 6 + 5);  // "FileV"
    CraftedBlock t;
    t.Bytes = cut;
    t.Set16(o.Root, cut.size());
    t.Set16(o.Info, cut.size() - o.Info);
    t.Set16(o.Table, cut.size() - o.Table);
    t.Set16(o.Leaf, cut.size() - o.Leaf);
    EXPECT_FALSE(QueryVersionText(t.Bytes, FileVersionPath));
  }
  {  // Every prefix of the block: never more than the whole block gives.
    for (std::size_t n = 0; n < good.Bytes.size(); ++n) {
      EXPECT_FALSE(QueryVersionText(good.Bytes.substr(0, n), FileVersionPath)) << n;
    }
  }
  {  // A wrong root key.
    CraftedBlock b = good;
    b.Bytes[6] = 'X';
    EXPECT_FALSE(QueryVersionText(b.Bytes, FileVersionPath));
  }
}

// --- ELF files ---------------------------------------------------------------

struct ElfSection {
  std::string Name;
  std::string Contents;
  std::uint32_t Type = 1;  // PROGBITS
};

// A minimal ELF file: header, the sections' contents, the name table, then the
// section headers (a null one first, the name table last).
class ElfImage {
 public:
  ElfImage(bool is64, bool bigEndian) : is64_(is64), big_(bigEndian) {}

  std::string Build(const std::vector<ElfSection>& sections) {
    std::string names(1, '\0');
    std::vector<std::uint64_t> nameOffsets;
    for (const auto& s : sections) {
      nameOffsets.push_back(names.size());
      names += s.Name + '\0';
    }
    const std::uint64_t namesName = names.size();
    names += std::string(".shstrtab") + '\0';

    std::string file(HeaderSize(), '\0');
    std::vector<std::uint64_t> offsets;
    for (const auto& s : sections) {
      offsets.push_back(file.size());
      file += s.Contents;
    }
    const std::uint64_t namesOffset = file.size();
    file += names;
    while (file.size() % 8 != 0) file += '\0';
    const std::uint64_t shoff = file.size();
    const std::size_t count = sections.size() + 2;

    file += std::string(EntrySize(), '\0');  // null section
    for (std::size_t i = 0; i < sections.size(); ++i) {
      file += Entry(nameOffsets[i], sections[i].Type, offsets[i], sections[i].Contents.size());
    }
    file += Entry(namesName, 3, namesOffset, names.size());

    file.replace(0, 4,
                 "\x7F"
                 "ELF");
    file[4] = is64_ ? 2 : 1;
    file[5] = big_ ? 2 : 1;
    file[6] = 1;
    if (is64_) {
      Put(file, 0x28, 8, shoff);
      Put(file, 0x3A, 2, EntrySize());
      Put(file, 0x3C, 2, count);
      Put(file, 0x3E, 2, count - 1);
    } else {
      Put(file, 0x20, 4, shoff);
      Put(file, 0x2E, 2, EntrySize());
      Put(file, 0x30, 2, count);
      Put(file, 0x32, 2, count - 1);
    }
    shoff_ = shoff;
    return file;
  }

  void Put(std::string& file, std::size_t at, std::size_t width, std::uint64_t value) const {
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t shift = 8 * (big_ ? width - 1 - i : i);
      file[at + i] = static_cast<char>((value >> shift) & 0xFF);
    }
  }
  std::size_t HeaderSize() const { return is64_ ? 64 : 52; }
  std::size_t EntrySize() const { return is64_ ? 64 : 40; }
  std::uint64_t SectionHeaderOffset() const { return shoff_; }
  // Offsets of fields inside the ELF header and inside a section header.
  std::size_t ShnumAt() const { return is64_ ? 0x3C : 0x30; }
  std::size_t ShstrndxAt() const { return is64_ ? 0x3E : 0x32; }
  std::size_t SizeFieldAt() const { return is64_ ? 0x20 : 0x14; }
  std::size_t SizeWidth() const { return is64_ ? 8 : 4; }
  std::size_t LinkFieldAt() const { return is64_ ? 0x28 : 0x18; }

 private:
  std::string Entry(std::uint64_t name, std::uint32_t type, std::uint64_t offset,
                    std::uint64_t size) const {
    std::string e(EntrySize(), '\0');
    Put(e, 0, 4, name);
    Put(e, 4, 4, type);
    if (is64_) {
      Put(e, 0x18, 8, offset);
      Put(e, 0x20, 8, size);
    } else {
      Put(e, 0x10, 4, offset);
      Put(e, 0x14, 4, size);
    }
    return e;
  }

  bool is64_;
  bool big_;
  std::uint64_t shoff_ = 0;
};

TReadAt ReaderOf(const std::string& file) {
  return [&file](std::uint64_t offset, std::size_t length, std::string& out) {
    if (offset > file.size() || length > file.size() - offset) return false;
    out = file.substr(static_cast<std::size_t>(offset), length);
    return true;
  };
}

class ElfKinds : public ::testing::TestWithParam<std::pair<bool, bool>> {};

TEST_P(ElfKinds, FindsTheSectionByName) {
  ElfImage image(GetParam().first, GetParam().second);
  const std::string file = image.Build({{".text", "code"},
                                        {".quillon.versionx", "decoy"},
                                        {std::string(VersionSectionName), BlockText()},
                                        {".data", "data"}});
  EXPECT_EQ(ReadElfSection(ReaderOf(file), VersionSectionName), BlockText());
  EXPECT_EQ(ReadElfSection(ReaderOf(file), ".data"), "data");
  EXPECT_FALSE(ReadElfSection(ReaderOf(file), ".quillon"));
  EXPECT_FALSE(ReadElfSection(ReaderOf(file), ".missing"));
}

TEST_P(ElfKinds, DamagedFilesGiveNothing) {
  ElfImage image(GetParam().first, GetParam().second);
  const std::string good = image.Build({{std::string(VersionSectionName), BlockText()}});
  const auto read = [](const std::string& f) {
    return ReadElfSection(ReaderOf(f), VersionSectionName);
  };
  ASSERT_TRUE(read(good));

  std::string f = good;
  image.Put(f, image.ShstrndxAt(), 2, 7);  // name table index beyond the count
  EXPECT_FALSE(read(f));

  f = good;
  const std::size_t sectionEntry = image.SectionHeaderOffset() + image.EntrySize();
  image.Put(f, sectionEntry + image.SizeFieldAt(), image.SizeWidth(),
            0x7FFFFFF0);  // runs past the file end
  EXPECT_FALSE(read(f));

  f = good;
  image.Put(f, sectionEntry + 4, 4, 8);  // NOBITS: no contents in the file
  EXPECT_FALSE(read(f));

  f = good;
  image.Put(f, sectionEntry, 4, 0xFFFF);  // name beyond the name table: not ours
  EXPECT_FALSE(read(f));

  for (std::size_t n = 0; n < good.size(); n += 7) {
    EXPECT_FALSE(read(good.substr(0, n))) << "cut to " << n;
  }
  f = good;
  f[4] = 3;  // no such class
  EXPECT_FALSE(read(f));
}

TEST_P(ElfKinds, LargeSectionCountsLiveInTheFirstHeader) {
  ElfImage image(GetParam().first, GetParam().second);
  std::string f = image.Build({{std::string(VersionSectionName), BlockText()}});
  const std::uint64_t count = 3;
  image.Put(f, image.ShnumAt(), 2, 0);
  image.Put(f, image.ShstrndxAt(), 2, 0xFFFF);
  const std::size_t first = image.SectionHeaderOffset();
  image.Put(f, first + image.SizeFieldAt(), image.SizeWidth(), count);
  image.Put(f, first + image.LinkFieldAt(), 4, count - 1);
  EXPECT_EQ(ReadElfSection(ReaderOf(f), VersionSectionName), BlockText());
}

INSTANTIATE_TEST_SUITE_P(ClassAndByteOrder, ElfKinds,
                         ::testing::Values(std::pair{true, false}, std::pair{true, true},
                                           std::pair{false, false}, std::pair{false, true}));

TEST(ElfSection, LimitsTheSizeItReads) {
  ElfImage image(true, false);
  const std::string file = image.Build({{".big", std::string(5000, 'x')}});
  EXPECT_FALSE(ReadElfSection(ReaderOf(file), ".big", 4096));
  EXPECT_EQ(ReadElfSection(ReaderOf(file), ".big", 5000)->size(), 5000u);
}

TEST(ElfSection, NotAnElfFile) {
  const std::string script = "#!/bin/sh\necho hello\n";
  EXPECT_FALSE(ReadElfSection(ReaderOf(script), VersionSectionName));
  EXPECT_FALSE(ReadElfSection(ReaderOf(""), VersionSectionName));
}

// --- files on disk -----------------------------------------------------------

TEST(FileVersionFile, ReadsTheVersionFromAFile) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows program carries a version resource (FileVersionWindowsTest)";
#endif
  const auto path = std::filesystem::temp_directory_path() /
                    ("quillon-version-" + std::to_string(::getpid()) + ".elf");
  ElfImage image(true, false);
  {
    std::ofstream out(path, std::ios::binary);
    out << image.Build(
        {{".text", std::string(1000, '\x90')}, {std::string(VersionSectionName), BlockText()}});
  }
  EXPECT_EQ(ReadFileVersionFrom(path.string()), "0.8.0.0");
  std::filesystem::remove(path);
  EXPECT_EQ(ReadFileVersionFrom(path.string()), "") << "a missing file";
  EXPECT_EQ(ReadFileVersionFrom("/proc/self/status"), "") << "no ELF file";
}

TEST(FileVersionFile, ThisTestProgramCarriesNoVersionBlock) {
  // Only the program itself embeds the block; a test binary reads as "no version".
  EXPECT_EQ(ReadFileVersion(), "");
}

}  // namespace
}  // namespace quillon
