// A table compressed in a format other than zlib loads only through the
// uncompress hook of the test codec library, installed before the deferred load.

#include "tests/fixtures/test_codec.h"
#include "tests/grf/grf_test_util.h"

namespace {

using fixture::CodecVariant;

TEST(CodecHook, NonZlibTableNeedsTheLibraryHook) {
  fixture::TestCodecLibrary library(CodecVariant::CompressAndUncompress);
  ASSERT_TRUE(library.loaded()) << library.path();
  for (uint32_t version : {0x200u, 0x300u}) {
    SCOPED_TRACE(version);
    fixture::ArchiveSpec spec;
    spec.version = version;
    spec.tableCodec = fixture::TableCodec::XorZlib;
    spec.entries.push_back(fixture::Entry("stored.txt", "stored content", fixture::Storage::Stored));
    spec.entries.push_back(fixture::Entry("zlib.txt", fixture::MakeContent(500, 2)));
    grftest::TempFile file("xortable");
    ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(spec)));

    grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.status, GRF_E_BAD_DATA);
    EXPECT_EQ(o.detail, 0xA0000060u);

    o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY | GRF_OPEN_DEFER_TABLE);
    ASSERT_TRUE(o.ok);
    GrfSetCompressHook(o.archive, library.compress());
    GrfSetUncompressHook(o.archive, library.uncompress());
    ASSERT_TRUE(GrfLoadTable(o.archive)) << std::hex << GrfGetLastDetail(o.archive);
    EXPECT_EQ(grftest::ListEntries(o.archive).size(), 2u);
    bool ok = false;
    EXPECT_TRUE(grftest::ReadWhole(o.archive, "stored.txt", &ok) == fixture::ToBytes("stored content"));
    EXPECT_TRUE(ok);
    // Entry data goes through the same hook: plain zlib data is now bad data.
    grftest::ReadWhole(o.archive, "zlib.txt", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(GrfGetLastStatus(o.archive), GRF_E_BAD_DATA);
    GrfClose(&o.archive);
  }
}

}  // namespace
