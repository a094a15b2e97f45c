#include "files/open_files.h"

#include <limits>

#include <algorithm>

#include "files/allocation_fault.h"
#include "logging/trace.h"

namespace quil::files {

namespace {
constexpr const char16_t* kSource = u"project/QUILCoreAPI/OpenFileControl";

bool inHashTables(uint32_t kind) { return kind >= Clip && kind <= General; }
bool isFixed(uint32_t kind) { return kind >= IndexXml && kind <= SysProXml; }
}  // namespace

std::pair<int32_t, HandleRecord*> HandleTable::add() {
  if (next_ == std::numeric_limits<int32_t>::max()) return {-1, nullptr};
  allocationPoint();
  // The record first: should either allocation fail, the map holds no slot
  // without a record (the close of the volume walks every slot).
  auto record = std::make_unique<HandleRecord>();
  HandleRecord* raw = record.get();
  records_.emplace(next_, std::move(record));
  return {next_++, raw};
}

HandleRecord* HandleTable::find(int32_t number) const {
  const auto it = records_.find(number);
  return it == records_.end() ? nullptr : it->second.get();
}

void HandleTable::erase(int32_t number) { records_.erase(number); }

bool OpenFileStruct::decrement(uint32_t mode, HandleRecord* handle) {
  if (mode == kReading || mode == kWriting) {
    auto& v = mode == kReading ? readers : writers;
    const auto it = std::find(v.begin(), v.end(), handle);
    if (it != v.end()) {
      v.erase(it);
    } else if (mode == kReading) {
      QUILLogger::writeTrace(2, 1, 0, kSource, u"OpenFileControl::OpenFileStruct::decrement", __LINE__,
                             u"OpenFileStruct::decrement Read Handle not found\n");
    } else {
      QUILLogger::writeTrace(2, 1, 0, kSource, u"OpenFileControl::OpenFileStruct::decrement", __LINE__,
                             u"OpenFileStruct::decrement Write Handle not found\n");
    }
  }
  return readers.empty() && writers.empty();
}

uint32_t numberHash(const std::u16string& clipName) {
  // wcstoul in base 10 from the second character: leading spaces and a sign
  // are taken, digits up to the first other character.
  size_t i = 1;
  while (i < clipName.size() && (clipName[i] == u' ' || (clipName[i] >= u'\t' && clipName[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < clipName.size() && (clipName[i] == u'+' || clipName[i] == u'-')) negative = clipName[i++] == u'-';
  uint32_t value = 0;
  bool overflow = false;
  for (; i < clipName.size() && clipName[i] >= u'0' && clipName[i] <= u'9'; ++i) {
    const uint64_t next = uint64_t{value} * 10 + static_cast<uint32_t>(clipName[i] - u'0');
    if (next > UINT32_MAX) overflow = true;
    value = static_cast<uint32_t>(next);
  }
  if (overflow) return UINT32_MAX;  // 32-bit unsigned long, as on the original platform
  return negative ? 0u - value : value;
}

uint32_t stringHash(const std::u16string& clipName) {
  uint32_t h = 0;
  for (char16_t c : clipName) h = (h * 17 + c) & 0xFFFF;
  return h;
}

OpenFileControl::OpenFileControl(bool freeNaming) : freeNaming_(freeNaming) {
  for (uint32_t k = IndexXml; k <= SysProXml; ++k) {
    fixed_[k - 1].fileName = std::make_shared<const FileNameManage>(static_cast<FileKind>(k), freeNaming);
  }
  for (uint32_t k = Clip; k <= General; ++k) {
    HashTable& t = tables_[k - Clip];
    const uint32_t buckets = k <= SubClip ? 512 : k <= EdlNrtMeta ? 128 : 32;
    t.heads.assign(buckets, nullptr);
    t.mask = buckets - 1;
    t.numberHash = k <= EdlNrtMeta && !freeNaming;
  }
}

OpenFileControl::~OpenFileControl() {
  for (auto& t : tables_) {
    for (OpenFileStruct* head : t.heads) {
      while (head != nullptr) {
        std::unique_ptr<OpenFileStruct> owned(head);
        head = head->next;
      }
    }
  }
}

const OpenFileControl::HashTable* OpenFileControl::tableOf(uint32_t kind) const {
  return inHashTables(kind) ? &tables_[kind - Clip] : nullptr;
}

OpenFileControl::HashTable* OpenFileControl::tableOf(uint32_t kind) {
  return inHashTables(kind) ? &tables_[kind - Clip] : nullptr;
}

size_t OpenFileControl::bucketOf(uint32_t kind, const std::u16string& clipName) const {
  const HashTable* t = tableOf(kind);
  if (t == nullptr) return 0;
  return (t->numberHash ? numberHash(clipName) : stringHash(clipName)) & t->mask;
}

OpenFileStruct* OpenFileControl::bucketHead(uint32_t kind, size_t bucket) const {
  const HashTable* t = tableOf(kind);
  return t != nullptr && bucket < t->heads.size() ? t->heads[bucket] : nullptr;
}

OpenFileStruct* OpenFileControl::findIn(uint32_t kind, const FileNameManage& path) const {
  if (isFixed(kind)) return const_cast<OpenFileStruct*>(&fixed_[kind - 1]);
  const HashTable* t = tableOf(kind);
  if (t == nullptr) return nullptr;
  for (OpenFileStruct* r = t->heads[bucketOf(kind, path.clipName())]; r != nullptr; r = r->next) {
    if (r->fileName->clipName() == path.clipName()) return r;
  }
  return nullptr;
}

OpenFileStruct* OpenFileControl::increment(uint32_t mode, const FileNamePtr& path, HandleRecord* handle) {
  const uint32_t kind = path->fileKind();
  OpenFileStruct* record = find(*path);
  if (record == nullptr) {
    HashTable* t = tableOf(kind);
    if (t == nullptr) return nullptr;  // kind None
    OpenFileStruct** link = &t->heads[bucketOf(kind, path->clipName())];
    while (*link != nullptr) link = &(*link)->next;
    allocationPoint();
    auto made = std::make_unique<OpenFileStruct>();
    made->fileName = path;
    made->backLink = link;
    record = made.release();  // owned by the chain until remove()
    *link = record;
    ++t->records;
  }
  if (mode == kReading) record->readers.push_back(handle);
  else if (mode == kWriting) record->writers.push_back(handle);
  return record;
}

void OpenFileControl::remove(OpenFileStruct* record) {
  if (record == nullptr || isFixed(record->fileName->fileKind())) return;
  std::unique_ptr<OpenFileStruct> owned(record);
  *record->backLink = record->next;
  if (record->next != nullptr) record->next->backLink = record->backLink;
  --tableOf(record->fileName->fileKind())->records;
}

template <class F>
void OpenFileControl::forEachRecord(uint32_t kind, F&& f) const {
  if (isFixed(kind)) {
    f(fixed_[kind - 1]);
    return;
  }
  const HashTable* t = tableOf(kind);
  if (t == nullptr || t->records == 0) return;
  for (OpenFileStruct* head : t->heads) {
    for (OpenFileStruct* r = head; r != nullptr; r = r->next) f(*r);
  }
}

bool OpenFileControl::isOpen(uint32_t mode, uint32_t kind, const FileNameManage* path, uint32_t n) const {
  if (mode != kReading && mode != kWriting) return n == 0;
  auto count = [mode](const OpenFileStruct& r) {
    return static_cast<uint32_t>(mode == kReading ? r.readers.size() : r.writers.size());
  };
  if (path != nullptr) {
    const OpenFileStruct* r = findIn(kind, *path);
    return (r != nullptr ? count(*r) : 0) >= n;
  }
  uint32_t total = 0;
  forEachRecord(kind, [&](const OpenFileStruct& r) { total += count(r); });
  return total >= n;
}

bool OpenFileControl::collectReaders(std::vector<HandleRecord*>& out, uint32_t kind, const FileNameManage* path) const {
  constexpr uint32_t kShareWrite = 2;
  constexpr uint32_t kShareDelete = 4;
  bool refused = false;
  auto visit = [&](const OpenFileStruct& r) {
    for (HandleRecord* h : r.readers) {
      if (refused) return;
      if ((h->shareMode & kShareWrite) == 0 || (h->shareMode & kShareDelete) == 0) {
        refused = true;
        return;
      }
      out.push_back(h);
    }
  };
  if (path != nullptr) {
    if (const OpenFileStruct* r = findIn(kind, *path)) visit(*r);
  } else {
    forEachRecord(kind, visit);
  }
  return refused;
}

HandleRecord* OpenFileControl::findHandle(uint32_t mode, uint32_t kind, const FileNameManage& path) const {
  const OpenFileStruct* r = findIn(kind, path);
  if (r == nullptr || (mode != kReading && mode != kWriting)) return nullptr;
  // Both branches name lvalues: the reference binds the list, no copy is made.
  const std::vector<HandleRecord*>& v = mode == kReading ? r->readers : r->writers;
  return v.empty() ? nullptr : v.front();
}

bool OpenFileControl::markDeletePending(const FileNameManage& path) {
  OpenFileStruct* r = find(path);
  if (r == nullptr || r->writers.empty()) return false;
  r->deletePending = true;
  return true;
}

}  // namespace quil::files
