#include <gtest/gtest.h>

#include "export/TargetFile.h"
#include "export/Workbook.h"
#include "export/WorkbookReaders.h"
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
    EXPECT_GE(detail::ZipPackage::HelperCount(), 1u);
}

// A failure deep in a long workbook, in its third sheet, ends the helpers
// and leaves no file.
TEST(ZipPackage, FailureInALaterSheetLeavesNoFile)
{
    SetSheetRowsForTesting(WorkbookFormat::Xlsx, 20000);
    TempDir dir;
    platform::CellSpool spool;
    spool.Write(1, 1, platform::SpoolCellKind::Text, "title");
    for (std::uint32_t row = 3; row <= 45000; ++row)
        spool.Write(row, 1, platform::SpoolCellKind::QuotedText, "row " + std::to_string(row));
    spool.Write(45001, 2, platform::SpoolCellKind::QuotedText, std::string(40000, 'x'));
    const std::string target = dir.File("t.xlsx");
    EXPECT_EQ(ErrorOf([&] { SaveWorkbook(spool, target); }),
              "Cannot create file \"" + target + "\". The cell in row 5,005, column 2 of Sheet3 holds 40,000 characters; a cell "
              "holds at most 32,767.");
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{});
    SetSheetRowsForTesting(WorkbookFormat::Xlsx, 0);
}
