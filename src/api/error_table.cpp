#include "api/error_table.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quil::api {

namespace {

struct Row {
  int32_t code;
  std::u16string_view text;
};

// Sorted once at compile time; lookups are binary searches, so the table
// behaves as the ordered map it stands for without any start-up work.
template <size_t N>
constexpr std::array<Row, N> sorted(std::array<Row, N> rows) {
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.code < b.code; });
  return rows;
}

constexpr auto kErrors = sorted(std::to_array<Row>({
    {0, u""},
    {-1, u"Internal SDK error."},
    {-2, u"Unexpected error. Unrecognized internal error."},
    {-3, u"General error."},
    {-4, u"API call was passed an invalid handle."},
    {-5, u"API call was passed some other invalid parameter."},
    {-6, u"API call was not supported on the supplied handle."},
    {-7, u"API call was called while another operation was in progress on the supplied handle."},
    {-8, u"API call was denied"},
    {-9, u"API call was passed a invalid filename"},
    {-1000, u"Input/output error."},
    {-1001, u"Input/output error: INDEX.XML"},
    {-1002, u"Input/output error: DISCMETA.XML"},
    {-1003, u"Input/output error: ALIAS.XML"},
    {-1004, u"Input/output error: clipinfo"},
    {-1005, u"Input/output error: editlist"},
    {-1006, u"Input/output error: non-real time metadata"},
    {-1007, u"Input/output error: picture pointer"},
    {-1008, u"Input/output error: video"},
    {-1009, u"Input/output error: audio"},
    {-1010, u"Input/output error: substream"},
    {-1011, u"Input/output error: real time metadata"},
    {-1012, u"Input/output error: playlist"},
    {-1099, u"API call was denied because IO retry over"},
    {-1100, u"File open error."},
    {-1101, u"INDEX.XML file open error."},
    {-1102, u"DISCMETA.XML file open error."},
    {-1103, u"ALIAS.XML file open error."},
    {-1104, u"ClipInfo file open error."},
    {-1105, u"EditList file open error."},
    {-1106, u"Non-real time metadata file open error."},
    {-1107, u"Picture Pointer file open error."},
    {-1108, u"Video essence file open error."},
    {-1109, u"Audio essence file open error."},
    {-1110, u"Proxy file open error."},
    {-1111, u"Real time metadata file open error."},
    {-1112, u"PlayList file open error."},
    {-1200, u"File close error."},
    {-1201, u"INDEX.XML file close error."},
    {-1202, u"DISCMETA.XML file close error."},
    {-1203, u"ALIAS.XML file close error."},
    {-1204, u"ClipInfo file close error."},
    {-1205, u"EditList file close error."},
    {-1206, u"Non-real time metadata file close error."},
    {-1207, u"Picture Pointer file close error."},
    {-1208, u"Video essence file close error."},
    {-1209, u"Audio essence file close error."},
    {-1210, u"Proxy file close error."},
    {-1211, u"Real time metadata file close error."},
    {-1212, u"PlayList file close error."},
    {-1300, u"File read error."},
    {-1301, u"INDEX.XML file read error."},
    {-1302, u"DISCMETA.XML file read error."},
    {-1303, u"ALIAS.XML file read error."},
    {-1304, u"ClipInfo file read error."},
    {-1305, u"EditList file read error."},
    {-1306, u"Non-real time metadata file read error."},
    {-1307, u"Picture pointer file read error."},
    {-1308, u"Video essence file read error."},
    {-1309, u"Audio essence file read error."},
    {-1310, u"Proxy file read error."},
    {-1311, u"Real time metadata file read error."},
    {-1312, u"PlayList file read error."},
    {-1400, u"File write error."},
    {-1401, u"INDEX.XML file write error."},
    {-1402, u"DISCMETA.XML file write error."},
    {-1403, u"ALIAS.XML file write error."},
    {-1404, u"ClipInfo file write error."},
    {-1405, u"EditList file write error."},
    {-1406, u"Non-real time metadata file write error."},
    {-1407, u"Picture Pointer file write error."},
    {-1408, u"Video essence file write error."},
    {-1409, u"Audio essence file write error."},
    {-1410, u"Proxy file write error."},
    {-1411, u"Real time metadata file write error."},
    {-1412, u"PlayList file write error."},
    {-1500, u"File seek error."},
    {-1501, u"INDEX.XML file seek error."},
    {-1502, u"DISCMETA.XML file seek error."},
    {-1503, u"ALIAS.XML file seek error."},
    {-1504, u"ClipInfo file seek error."},
    {-1505, u"EditList file seek error."},
    {-1506, u"Non-real time metadata file seek error."},
    {-1507, u"Picture Pointer file seek error."},
    {-1508, u"Video essence file seek error."},
    {-1509, u"Audio essence file seek error."},
    {-1510, u"Proxy file seek error."},
    {-1511, u"Real time metadata file seek error."},
    {-1512, u"PlayList file seek error."},
    {-2000, u"error in data content"},
    {-2001, u"INDEX.XML content error."},
    {-2002, u"error in DISCMETA.XML content"},
    {-2003, u"ALIAS.XML content error."},
    {-2004, u"error in clipinfo content"},
    {-2005, u"error in editlist content"},
    {-2006, u"Non-real time metadata content error."},
    {-2007, u"Picture Pointer content error."},
    {-2008, u"error in video content"},
    {-2009, u"error in audio content"},
    {-2010, u"error in substream content"},
    {-2011, u"error in real time metadata content"},
    {-2012, u"error in playlist content"},
    {-2013, u"error in Smi content"},
    {-2014, u"error in MediaProfile content"},
    {-2015, u"AV file data error"},
    {-3001, u"Volume is already created"},
    {-3002, u"Disc Corrupted"},
    {-3003, u"No free space on the disc"},
    {-3004, u"Drive is busy"},
    {-3005, u"API call is invalid operation"},
    {-3006, u"File system driver error"},
    {-3007, u"Unsupported Files"},
    {-3008, u"File is already existed"},
    {-3009, u"Meta file parse error"},
    {-3010, u"file sharing violation"},
    {-3011, u"Invalid file access"},
    {-3012, u"Media write protected"},
    {-3101, u"File System driver's command error"},
    {-3201, u"CreateDirectory error"},
    {-3202, u"MoveFile error"},
    {-3203, u"DeleteFile error"},
    {-3204, u"RemoveDirectory error"},
    {-3205, u"SetFileAttributes error"},
    {-3206, u"SetFilePointer error"},
    {-3207, u"GetFileSize error"},
    {-3208, u"SetEndOfFile error"},
    {-4001, u"DISCMETA.XML content error but cannot rewrite."},
    {-9999, u"Not implemented."},
    {1000, u"No object found in searching."},
}));

constexpr auto kShortTexts = sorted(std::to_array<Row>({
    {-3002, u"The volume is corrupted."},
    {-3003, u"The disc has no space to write."},
    {-3005, u"The operation is illegal."},
    {-3007, u"The file is unsupported."},
    {-3008, u"The filename already exists."},
    {-3010, u"File sharing violation error occurred."},
    {-3012, u"The disc is write-protected."},
    {1000, u"The file is not found."},
}));

template <size_t N>
const Row* find(const std::array<Row, N>& rows, int32_t code) {
  const auto it = std::lower_bound(rows.begin(), rows.end(), code, [](const Row& r, int32_t c) { return r.code < c; });
  return it != rows.end() && it->code == code ? &*it : nullptr;
}

constexpr bool unique(const auto& rows) {
  for (size_t i = 1; i < rows.size(); ++i) {
    if (rows[i - 1].code == rows[i].code) return false;
  }
  return true;
}
static_assert(unique(kErrors) && unique(kShortTexts), "a code appears twice");
static_assert(kErrors.size() == 129, "the code table has 129 rows");

}  // namespace

std::u16string_view errorText(int32_t code) {
  const Row* row = find(kErrors, code);
  return row != nullptr ? row->text : kUndefinedErrorText;
}

bool isKnownError(int32_t code) { return find(kErrors, code) != nullptr; }

size_t errorTableSize() { return kErrors.size(); }

std::optional<std::u16string_view> shortErrorText(int32_t code) {
  const Row* row = find(kShortTexts, code);
  if (row == nullptr) return std::nullopt;
  return row->text;
}

}  // namespace quil::api
