#include <gtest/gtest.h>

#include "export/TargetFile.h"
#include "export/Workbook.h"
#include "testsupport/WorkbookReaders.h"
#include "export/ZipPackage.h"
#include "testsupport/TestSupport.h"

#include <gsf/gsf-infile-zip.h>

#include <random>

using namespace querlin;
using namespace querlin::exports;
using test::ErrorOf;
using test::FilesIn;
using test::TempDir;

namespace {

// An entry read with libgsf's ZIP reader (libzip is the other reader).
std::string ReadWithGsf(const std::string& path, const std::string& name)
{
    gsf_init();
    GError* error = nullptr;
    GsfInput* file = gsf_input_stdio_new(path.c_str(), &error);
    GsfInfile* zip = file ? gsf_infile_zip_new(file, &error) : nullptr;
    g_clear_error(&error);
    std::string bytes = "(not read)";
    if (zip) {
        if (GsfInput* entry = gsf_infile_child_by_name(zip, name.c_str())) {
            const auto size = static_cast<std::size_t>(gsf_input_size(entry));
            bytes.assign(size, '\0');
            if (size && !gsf_input_read(entry, size, reinterpret_cast<guint8*>(bytes.data())))
                bytes = "(cannot read)";
            g_object_unref(entry);
        }
        g_object_unref(zip);
    }
    if (file)
        g_object_unref(file);
    return bytes;
}

} // namespace

// Entries empty, small, incompressible (its pieces come out larger than
// they went in) and long enough for many pieces, one of them with the
// headers for large sizes: each reads back whole through both readers,
// libzip checking the checksum.
TEST(ZipPackage, EntriesReadBackWholeThroughTwoReaders)
{
    std::mt19937 random(27);
    std::string noise(3 * 1024 * 1024 + 17, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::string text;
    for (int i = 0; text.size() < 5 * 1024 * 1024; ++i)
        text += "<row r=\"" + std::to_string(i) + "\"><c t=\"inlineStr\"><is><t>值" + std::to_string(i * 7) + "</t></is></c></row>";
    const std::pair<std::string, std::string> entries[] = {
        {"empty", ""}, {"small.xml", "<a/>"}, {"noise.bin", noise}, {"text.xml", text}, {"large.xml", text}};

    TempDir dir;
    WriteTargetFile(dir.File("t.zip"), [&](TargetFile& target) {
        detail::ZipPackage package(target);
        for (const auto& [name, bytes] : entries) {
            package.BeginEntry(name, name == "large.xml");
            // In uneven parts, as the sheets' rows come.
            for (std::size_t at = 0; at < bytes.size();) {
                const std::size_t part = std::min<std::size_t>(bytes.size() - at, 1 + random() % 70000);
                package.Write(std::string_view(bytes).substr(at, part));
                at += part;
            }
            package.EndEntry();
        }
        package.Finish();
    });
    for (const auto& [name, bytes] : entries) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(test::ReadZipEntry(dir.File("t.zip"), name) == bytes);
        EXPECT_TRUE(ReadWithGsf(dir.File("t.zip"), name) == bytes);
    }
}

// A failure deep in a long workbook, in its third sheet, ends the helpers
// and leaves no file.
TEST(ZipPackage, FailureInALaterSheetLeavesNoFile)
{
    SetSheetRowsForTesting(WorkbookFormat::Xlsx, 20000);
    TempDir dir;
    exports::CellSpool spool;
    spool.Write(1, 1, exports::SpoolCellKind::Text, "title");
    for (std::uint32_t row = 3; row <= 45000; ++row)
        spool.Write(row, 1, exports::SpoolCellKind::QuotedText, "row " + std::to_string(row));
    spool.Write(45001, 2, exports::SpoolCellKind::QuotedText, std::string(40000, 'x'));
    const std::string target = dir.File("t.xlsx");
    EXPECT_EQ(ErrorOf([&] { SaveWorkbook(spool, target); }),
              "Cannot create file \"" + target + "\". The cell in row 5,005, column 2 of Sheet3 holds 40,000 characters; a cell "
              "holds at most 32,767.");
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{});
    SetSheetRowsForTesting(WorkbookFormat::Xlsx, 0);
}

// A sheet whose XML passes what 32-bit sizes hold (here a limit lowered to
// 200 KiB) is written again with large sizes in its headers, the other
// parts keeping the plain ones; both readers take the workbook whole.
TEST(ZipPackage, OnlyASheetTooLargeForPlainSizesGetsLargeOnes)
{
    detail::ZipPackage::SetEntryLimitForTesting(200 * 1024);
    SetSheetRowsForTesting(WorkbookFormat::Xlsx, 4000);
    TempDir dir;
    exports::CellSpool spool;
    spool.Write(1, 1, exports::SpoolCellKind::Text, "title");
    std::vector<std::string> second = {"R1C1=title"};
    for (std::uint32_t row = 3; row <= 4500; ++row) {
        // Long rows in the first sheet, short ones in the second.
        const std::string text = row <= 4000 ? std::string(60, 'a') + std::to_string(row) : std::to_string(row);
        spool.Write(row, 1, exports::SpoolCellKind::QuotedText, text);
        if (row > 4000)
            second.push_back("R" + std::to_string(row - 3998) + "C1'=" + text);
    }
    const std::string file = dir.File("t.xlsx");
    SaveWorkbook(spool, file);
    detail::ZipPackage::SetEntryLimitForTesting(0);
    SetSheetRowsForTesting(WorkbookFormat::Xlsx, 0);

    // Which local headers carry the large sizes' extra field (ID 1).
    const std::string bytes = test::ReadFile(file);
    std::vector<std::string> large;
    for (std::size_t at = bytes.find("PK\x03\x04"); at != std::string::npos; at = bytes.find("PK\x03\x04", at + 4)) {
        auto u16 = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8; };
        const std::size_t nameLength = u16(at + 26), extraLength = u16(at + 28);
        if (extraLength >= 4 && u16(at + 30 + nameLength) == 1)
            large.push_back(bytes.substr(at + 30, nameLength));
    }
    EXPECT_EQ(large, std::vector<std::string>{"xl/worksheets/sheet1.xml"});
    test::XlsxDocument document(file);
    EXPECT_EQ(document.problems, std::vector<std::string>{});
    ASSERT_EQ(document.sheetNames.size(), 2u);
    EXPECT_EQ(document.Cells(0).size(), 3999u);
    EXPECT_EQ(document.Cells(1), second);
    EXPECT_EQ(test::ReadXlsxSheetCells(file, 2), second);
    EXPECT_EQ(test::ReadXlsxSheetCells(file, 1).back(), "R4000C1'=" + std::string(60, 'a') + "4000");
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"t.xlsx"});
}
