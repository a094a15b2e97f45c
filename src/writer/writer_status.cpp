#include "writer/writer_status.h"

#include <array>
#include <map>

#include "api/error_table.h"
#include "api/last_error.h"
#include "logging/trace.h"
#include "quil/sibling/quilwriter.h"
#include "text/format.h"

namespace quil::writer {

namespace {

constexpr const char16_t* kSource = u"project/QUILCoreAPI/WriterStatus";

// The writer error map as the runs it is written in: writer codes first to
// last (inclusive) give the system code.
struct Run {
  uint32_t first;
  uint32_t last;
  int32_t code;
};

constexpr Run kRuns[] = {
    // -1 "Internal SDK error."; such entries behave as absent ones.
    {0x81000001, 0x81000003, -1}, {0x82000001, 0x82000001, -1}, {0x82000003, 0x82000004, -1},
    {0x82000006, 0x8200000A, -1}, {0x8200000E, 0x8200000F, -1}, {0x82000012, 0x82000013, -1},
    {0x83000005, 0x83000006, -1}, {0x83000008, 0x83000008, -1}, {0x84000001, 0x84000002, -1},
    {0x8400000B, 0x8400000B, -1}, {0x84000010, 0x84000011, -1}, {0x85000001, 0x85000001, -1},
    {0x85000015, 0x85000016, -1}, {0x85000020, 0x85000020, -1}, {0x87000006, 0x87000006, -1},
    {0x8700000E, 0x87000014, -1}, {0x87000017, 0x87000017, -1}, {0x8700001B, 0x8700001C, -1},
    {0x8700001F, 0x87000023, -1}, {0x87000027, 0x87000027, -1}, {0x8700002A, 0x8700002A, -1},
    {0x88000019, 0x8800001A, -1}, {0x89000003, 0x89000003, -1}, {0x89000006, 0x89000006, -1},
    {0x89000008, 0x89000008, -1}, {0x8900000B, 0x8900000B, -1}, {0x89000012, 0x89000012, -1},
    {0x8B000002, 0x8B000002, -1}, {0x8C000001, 0x8C000001, -1}, {0x8F000003, 0x8F000003, -1},
    {0x8F000005, 0x8F000005, -1}, {0x8F000009, 0x8F000009, -1}, {0x91000001, 0x91000005, -1},
    {0x9100000C, 0x9100000C, -1}, {0x91000013, 0x91000013, -1}, {0x94000002, 0x94000003, -1},
    // 0 (a writer failure that names no error of ours)
    {0x82000022, 0x82000022, 0},
    // -2, -3, -4, -5, -8, -9
    {0x8900000E, 0x8900000E, -2}, {0x8F00000C, 0x8F00000C, -2}, {0x91000009, 0x91000009, -2},
    {0x8900000D, 0x8900000D, -3}, {0x8F00000B, 0x8F00000B, -3}, {0x91000006, 0x91000006, -3},
    {0x8800001C, 0x8800001C, -4},
    {0x86000006, 0x86000006, -5}, {0x8B000005, 0x8B000005, -5}, {0x91000008, 0x91000008, -5},
    {0x92000003, 0x92000003, -5}, {0x94000001, 0x94000001, -5},
    {0x82000024, 0x82000024, -8}, {0x8B000006, 0x8B000006, -8},
    {0x86000003, 0x86000003, -9}, {0x87000002, 0x87000002, -9},
    // input/output, retry, open
    {0x87000007, 0x87000007, -1000},
    {0x82000019, 0x82000019, -1099},
    {0x82000005, 0x82000005, -1100}, {0x8200001A, 0x8200001A, -1100}, {0x84000016, 0x84000016, -1100},
    {0x86000001, 0x86000001, -1100}, {0x87000026, 0x87000026, -1100}, {0x88000010, 0x88000010, -1100},
    {0x8B000003, 0x8B000003, -1100}, {0x8C000002, 0x8C000002, -1100}, {0x8E000001, 0x8E000001, -1100},
    {0x8400000E, 0x8400000E, -1101},
    // read
    {0x81000006, 0x81000006, -1300}, {0x8200001B, 0x8200001B, -1300}, {0x8200001F, 0x8200001F, -1300},
    {0x8200002B, 0x8200002B, -1300}, {0x83000004, 0x83000004, -1300}, {0x84000018, 0x84000018, -1300},
    {0x8400001B, 0x8400001B, -1300}, {0x86000004, 0x86000004, -1300}, {0x8600000D, 0x8600000D, -1300},
    {0x87000008, 0x87000008, -1300}, {0x87000025, 0x87000025, -1300}, {0x88000015, 0x88000015, -1300},
    {0x89000001, 0x89000001, -1300}, {0x8C000003, 0x8C000003, -1300}, {0x8F000001, 0x8F000001, -1300},
    {0x92000002, 0x92000002, -1300},
    {0x83000001, 0x83000001, -1301}, {0x8600000A, 0x8600000A, -1301}, {0x88000001, 0x88000001, -1301},
    {0x86000007, 0x86000007, -1303},
    // write
    {0x8200000D, 0x8200000D, -1400}, {0x82000017, 0x82000017, -1400}, {0x8200002D, 0x8200002D, -1400},
    {0x83000003, 0x83000003, -1400}, {0x8300000C, 0x8300000C, -1400}, {0x84000013, 0x84000013, -1400},
    {0x84000015, 0x84000015, -1400}, {0x84000019, 0x84000019, -1400}, {0x87000015, 0x87000015, -1400},
    {0x87000018, 0x87000018, -1400}, {0x87000028, 0x87000028, -1400},
    // seek
    {0x82000010, 0x82000010, -1500}, {0x82000018, 0x82000018, -1500}, {0x91000007, 0x91000007, -1500},
    {0x92000001, 0x92000001, -1500}, {0x92000004, 0x92000004, -1500},
    // content
    {0x87000024, 0x87000024, -2001}, {0x88000002, 0x88000002, -2001},
    {0x9100000E, 0x9100000E, -2011},
    {0x85000003, 0x85000014, -2015}, {0x85000017, 0x8500001F, -2015}, {0x88000003, 0x88000003, -2015},
    {0x88000014, 0x88000014, -2015}, {0x89000009, 0x8900000A, -2015}, {0x8900000F, 0x89000011, -2015},
    {0x89000015, 0x89000018, -2015}, {0x8F000007, 0x8F000008, -2015}, {0x8F00000D, 0x8F000010, -2015},
    {0x9100000A, 0x9100000B, -2015}, {0x9100000D, 0x9100000D, -2015}, {0x9100000F, 0x91000012, -2015},
    {0x91000014, 0x91000014, -2015}, {0x94000004, 0x9400000A, -2015},
    // volume and operation
    {0x8600000F, 0x8600000F, -3002}, {0x87000004, 0x87000005, -3002},
    {0x81000005, 0x81000005, -3003}, {0x82000002, 0x82000002, -3003}, {0x82000023, 0x82000023, -3003},
    {0x82000028, 0x82000028, -3003}, {0x83000002, 0x83000002, -3003}, {0x86000005, 0x86000005, -3003},
    {0x86000009, 0x86000009, -3003}, {0x8600000C, 0x8600000C, -3003}, {0x86000013, 0x86000014, -3003},
    {0x87000016, 0x87000016, -3003}, {0x8700001E, 0x8700001E, -3003}, {0x8700002B, 0x8700002B, -3003},
    {0x89000007, 0x89000007, -3003}, {0x8F000006, 0x8F000006, -3003},
    {0x81000004, 0x81000004, -3004}, {0x86000002, 0x86000002, -3004}, {0x87000003, 0x87000003, -3004},
    {0x87000001, 0x87000001, -3005}, {0x8700000C, 0x8700000C, -3005}, {0x88000018, 0x88000018, -3005},
    {0x8B000001, 0x8B000001, -3005},
    {0x8600000E, 0x8600000E, -3006},
    {0x85000002, 0x85000002, -3007}, {0x89000004, 0x89000005, -3007}, {0x8F000004, 0x8F000004, -3007},
    {0x86000008, 0x86000008, -3008}, {0x8600000B, 0x8600000B, -3008}, {0x86000015, 0x86000015, -3008},
    {0x8700000B, 0x8700000B, -3008}, {0x8700000D, 0x8700000D, -3008}, {0x92000005, 0x92000005, -3008},
    {0x84000003, 0x8400000A, -3009}, {0x8400000C, 0x8400000D, -3009}, {0x8400000F, 0x8400000F, -3009},
    {0x84000012, 0x84000012, -3009}, {0x8700001A, 0x8700001A, -3009}, {0x8700001D, 0x8700001D, -3009},
    {0x88000006, 0x8800000F, -3009}, {0x88000016, 0x88000017, -3009}, {0x8800001B, 0x8800001B, -3009},
    {0x88000013, 0x88000013, -3012},
    // driver
    {0x8200000B, 0x8200000C, -3101}, {0x82000011, 0x82000011, -3101}, {0x82000014, 0x82000016, -3101},
    {0x8200001D, 0x8200001D, -3101}, {0x82000025, 0x82000027, -3101}, {0x8200002A, 0x8200002A, -3101},
    {0x83000007, 0x83000007, -3101}, {0x83000009, 0x8300000B, -3101}, {0x8400001C, 0x8400001C, -3101},
    {0x86000012, 0x86000012, -3101}, {0x87000029, 0x87000029, -3101}, {0x88000011, 0x88000012, -3101},
    {0x8800001D, 0x8800001D, -3101}, {0x89000013, 0x89000014, -3101}, {0x8A000006, 0x8A000006, -3101},
    // file-system calls
    {0x89000002, 0x89000002, -3201}, {0x8A000001, 0x8A000001, -3201}, {0x8F000002, 0x8F000002, -3201},
    {0x84000014, 0x84000014, -3202}, {0x87000009, 0x87000009, -3202}, {0x8900000C, 0x8900000C, -3202},
    {0x8A000003, 0x8A000003, -3202}, {0x8F00000A, 0x8F00000A, -3202},
    {0x82000029, 0x82000029, -3203}, {0x84000017, 0x84000017, -3203}, {0x8A000004, 0x8A000004, -3203},
    {0x8A000002, 0x8A000002, -3204},
    {0x8200002C, 0x8200002C, -3205}, {0x8A000005, 0x8A000005, -3205},
    {0x82000020, 0x82000021, -3206},
    {0x8200001C, 0x8200001C, -3207}, {0x8400001A, 0x8400001A, -3207}, {0x8B000004, 0x8B000004, -3207},
    {0x8200001E, 0x8200001E, -3208},
    // search
    {0x86000010, 0x86000011, 1000}, {0x86000016, 0x86000016, 1000}, {0x8700000A, 0x8700000A, 1000},
    {0x88000004, 0x88000005, 1000},
};

constexpr size_t pairCount() {
  size_t n = 0;
  for (const Run& r : kRuns) n += r.last - r.first + 1;
  return n;
}
static_assert(pairCount() == 307, "the writer error map holds 307 pairs");

constexpr bool runsDisjoint() {
  for (size_t i = 0; i < std::size(kRuns); ++i) {
    if (kRuns[i].last < kRuns[i].first) return false;
    for (size_t j = i + 1; j < std::size(kRuns); ++j) {
      if (kRuns[i].first <= kRuns[j].last && kRuns[j].first <= kRuns[i].last) return false;
    }
  }
  return true;
}
static_assert(runsDisjoint(), "no writer code appears twice in the writer error map");

std::map<uint32_t, int32_t> buildMap() {
  std::map<uint32_t, int32_t> m;
  for (const Run& r : kRuns) {
    for (uint32_t code = r.first;; ++code) {
      m.emplace(code, r.code);
      if (code == r.last) break;
    }
  }
  return m;
}

// Built at load, before any export can run; read-only afterwards.
const std::map<uint32_t, int32_t> gWriterErrorMap = buildMap();

uint32_t statusOfRepair(int32_t repairStatus) {
  switch (repairStatus) {
    case 0: return kStatusFailure;
    case 1: return kStatusRepaired1;
    case 2: return kStatusRepaired2;
    case 3: return kStatusRepaired3;
    default: return kStatusUnknown;
  }
}

}  // namespace

int32_t mapWriterError(uint32_t writerCode) {
  const auto it = gWriterErrorMap.find(writerCode);
  return it == gWriterErrorMap.end() ? -1 : it->second;
}

size_t writerErrorMapSize() { return gWriterErrorMap.size(); }

std::u16string writerErrorMessage(int32_t systemCode, uint32_t writerCode) {
  std::u16string message(quil::api::errorText(systemCode));
  quil::formatTo(message, u" (0x%08X)", writerCode);
  return message;
}

WriterStatus::WriterStatus(uint32_t status, uint32_t closeResult) : status_(status), closeResult_(closeResult) {
  if (status == kStatusSuccess) {
    errorCode_ = 0;
    return;
  }
  errorCode_ = -1;
  message_ = quil::api::errorText(-1);
  QUILLogger::writeTrace(2, 1, 0, kSource, u"WriterStatus::WriterStatus", __LINE__, u"WriterStatus::STATUS=%d\n",
                         static_cast<int32_t>(status));
}

WriterStatus WriterStatus::fromWriterCode(uint32_t writerCode, uint32_t status) {
  const int32_t code = mapWriterError(writerCode);
  return WriterStatus(status, code, writerErrorMessage(code, writerCode));
}

WriterStatus WriterStatus::fromWriterException(const QUILWriter::QUILWriterException& e) {
  return fromWriterCode(e.errorCode(), statusOfRepair(e.repairStatus()));
}

WriterStatus WriterStatus::fromStandardException() {
  return WriterStatus(kStatusFailure, -3, std::u16string(quil::api::errorText(-3)));
}

WriterStatus WriterStatus::fromUnknownException() {
  return WriterStatus(kStatusFailure, -2, std::u16string(quil::api::errorText(-2)));
}

WriterStatus WriterStatus::fromCode(int32_t code) {
  return WriterStatus(kStatusFailure, code, std::u16string(quil::api::errorText(code)));
}

void setLastErrorFrom(const WriterStatus& s) { quil::api::setLastError(s.errorCode(), s.message()); }

}  // namespace quil::writer
