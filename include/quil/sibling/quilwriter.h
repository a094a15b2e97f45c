// quilwriter.h - what libquilcoreapi needs of the writer library.
//
// The writer library writes files and volume structures on the disc: clips,
// components, edit lists, metadata, the root XML files, user data and general
// files. It is a C++ library (namespace QUILWriter) that hands out its file
// objects as shared pointers and reports EVERY failure by throwing, as a rule
// a QUILWriterException; nothing in this header returns an error value. The
// core runs each call inside a catching frame and turns the exception into
// its own status and last error.
//
// Paths pass as the volume root plus the writer file name of a volume path.
// Only what the core relies on is declared here.
#ifndef QUIL_SIBLING_QUILWRITER_H
#define QUIL_SIBLING_QUILWRITER_H

#ifndef __cplusplus
#error "quilwriter.h is a C++ interface"
#endif

#include <quil/quilcoreapi.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(__GNUC__) || defined(__clang__)
#define QUIL_WRITER_API __attribute__((visibility("default")))
#else
#define QUIL_WRITER_API
#endif

namespace QUILWriter {

// ---------------------------------------------------------------------------
// Exception
// ---------------------------------------------------------------------------

// What the writer throws. errorCode is the writer's own 32-bit code (for
// example 0x82000002); repairStatus (0 to 3) tells how far the writer could
// repair the disc after the failure; file, function and line name the place
// that threw. Exported with default visibility so that its type information
// is one and the same in the writer and in the core, and a throw from one
// library is caught by type in the other.
class QUIL_WRITER_API QUILWriterException : public std::exception {
public:
    QUILWriterException(uint32_t errorCode, int32_t repairStatus, std::string file, std::string function,
                        int line, std::string message)
        : m_errorCode(errorCode),
          m_repairStatus(repairStatus),
          m_file(std::move(file)),
          m_function(std::move(function)),
          m_line(line),
          m_message(std::move(message)) {}

    const char* what() const noexcept override { return m_message.c_str(); }
    uint32_t errorCode() const noexcept { return m_errorCode; }
    int32_t repairStatus() const noexcept { return m_repairStatus; }
    const std::string& file() const noexcept { return m_file; }
    const std::string& function() const noexcept { return m_function; }
    int line() const noexcept { return m_line; }

private:
    uint32_t m_errorCode;
    int32_t m_repairStatus;
    std::string m_file;
    std::string m_function;
    int m_line;
    std::string m_message;
};

// ---------------------------------------------------------------------------
// Enumerations. All pass as 32-bit values. The values are the writer
// library's own; the core forwards what it is given (a naming mode is the
// volume parameters' namingMode as it stands), so the fixed underlying type
// keeps every 32-bit value representable.
// ---------------------------------------------------------------------------

enum _QUIL_NAMING_MODE : uint32_t {
    QUIL_NAMING_STRICT = 1,  // clip names follow the numbered pattern
    QUIL_NAMING_FREE = 2,    // any clip name (namingMode 2 of the volume)
};

enum _QUIL_UMID_MODE : uint32_t {
    QUIL_UMID_MODE_1 = 1,
    QUIL_UMID_MODE_2 = 2,
};

enum _QUIL_FILE_TYPE : uint32_t {
    QUIL_FILE_TYPE_UNKNOWN = 0,
    QUIL_FILE_TYPE_DISK = 1,
};

// Same numbering as the Win32 move methods, so a caller's method passes as is.
enum _QUIL_WHENCE : uint32_t {
    QUIL_WHENCE_BEGIN = 0,
    QUIL_WHENCE_CURRENT = 1,
    QUIL_WHENCE_END = 2,
};

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// Creation parameters of a clip or a component: one layout for both.
struct _Clip_Param {
    _Volume_Param volumeParam;
    _QUIL_UMID_MODE umidMode;
};
typedef _Clip_Param _Component_Param;

QUIL_LAYOUT_CHECK(offsetof(_Clip_Param, volumeParam) == 0, "_Clip_Param.volumeParam");
QUIL_LAYOUT_CHECK(offsetof(_Clip_Param, umidMode) == 212, "_Clip_Param.umidMode");
QUIL_LAYOUT_CHECK(sizeof(_Clip_Param) == 216, "_Clip_Param is 216 bytes");

// What the AV-tree check found about duplicated file names: the ALIAS.XML
// content the writer computed (empty: nothing to do) and the renames it
// decided on, in order.
struct QUIL_AliasRename {
    std::vector<uint8_t> virtualAlias;
    struct Rename {
        std::u16string directory;
        std::u16string oldName;
        std::u16string newName;
    };
    std::vector<Rename> renames;
};

// ---------------------------------------------------------------------------
// Reading the disc
// ---------------------------------------------------------------------------

// The writer reads the disc through the reader library, by way of an object
// that the caller of CreateVolume lends it. Four operations in this slot
// order and no destructor slot: the writer never owns or deletes the
// object, so the destructor is protected and not virtual. Results follow the
// reader library: cacheOpen gives a file number or -1, the others non-zero
// on success.
class QUIL_WRITER_API QUILCacheReader {
public:
    virtual int32_t cacheOpen(const QUILCHAR* path) = 0;
    virtual int32_t cacheClose(int32_t file) = 0;
    virtual int32_t cacheRead(int32_t file, void* buffer, uint32_t size, uint32_t* read) = 0;
    virtual int32_t cacheGetSize(int32_t file, int64_t* size) = 0;

protected:
    QUILCacheReader() = default;
    QUILCacheReader(const QUILCacheReader&) = default;
    QUILCacheReader& operator=(const QUILCacheReader&) = default;
    ~QUILCacheReader() = default;
};

// ---------------------------------------------------------------------------
// File objects. Made only by the static factories, which throw on failure.
// Virtual operations are declared in the slot order of the writer's objects.
// Every operation throws on failure.
// ---------------------------------------------------------------------------

// Clip essence file (\CLIP\*.MXF).
class QUIL_WRITER_API ClipWriter {
public:
    static std::shared_ptr<ClipWriter> create(const std::u16string& root, const std::u16string& name,
                                              const _Clip_Param& param);

    virtual std::u16string GetClipId() = 0;
    virtual void Seek(int64_t distance, int64_t* newPosition, _QUIL_WHENCE whence) = 0;
    virtual void Write(const void* buffer, uint32_t length, uint32_t* written) = 0;
    virtual int64_t GetFileSize() = 0;
    virtual _QUIL_FILE_TYPE GetFileType() = 0;
    // Ends the recording; *result receives the writer's close result.
    virtual void Close(int32_t* result) = 0;
    virtual void SetFileSize(int64_t size) = 0;
    virtual ~ClipWriter() = default;
};

// Component file (\COMPONENT\*.MXF).
class QUIL_WRITER_API ComponentWriter {
public:
    static std::shared_ptr<ComponentWriter> create(const std::u16string& root, const std::u16string& name,
                                                   const _Component_Param& param);

    virtual void Close() = 0;
    virtual void Seek(int64_t distance, int64_t* newPosition, _QUIL_WHENCE whence) = 0;
    virtual void Write(const void* buffer, uint32_t length, uint32_t* written) = 0;
    virtual int64_t GetFileSize() = 0;
    virtual _QUIL_FILE_TYPE GetFileType() = 0;
    virtual void SetFileSize(int64_t size) = 0;
    virtual ~ComponentWriter() = default;
};

// Any file below \USERDATA or \GENERAL.
class QUIL_WRITER_API UserDataWriter {
public:
    // Arguments as CreateFileW takes them; general is true for a \GENERAL file.
    static std::shared_ptr<UserDataWriter> createFile(const std::u16string& root, const std::u16string& name,
                                                      uint32_t access, uint32_t share, void* security,
                                                      uint32_t disposition, uint32_t flags, void* templateFile,
                                                      bool general);

    virtual void Close() = 0;
    virtual void Read(void* buffer, uint32_t length, uint32_t* read) = 0;
    virtual void Seek(int64_t distance, int64_t* newPosition, _QUIL_WHENCE whence) = 0;
    virtual void Write(const void* buffer, uint32_t length, uint32_t* written) = 0;
    virtual ~UserDataWriter() = default;

    // Plain member functions, not slots of the object: the writer library
    // defines them for the objects its factory makes.
    int64_t GetFileSize();
    _QUIL_FILE_TYPE GetFileType();
    void SetEndOfFile();
    void SetFileTime(int64_t creationTime, int64_t lastAccessTime, int64_t lastWriteTime);
};

// Clip user metadata (\CLIP\*M02.KLV).
class QUIL_WRITER_API UserMetaWriter {
public:
    static std::shared_ptr<UserMetaWriter> create(const std::u16string& root, const std::u16string& name,
                                                  _QUIL_NAMING_MODE naming);
    static std::shared_ptr<UserMetaWriter> open(const std::u16string& root, const std::u16string& name,
                                                _QUIL_NAMING_MODE naming);

    virtual void Close() = 0;
    virtual int64_t GetFileSize() = 0;
    virtual void Read(void* buffer, uint32_t length, uint32_t* read) = 0;
    virtual void Seek(int64_t distance, int64_t* newPosition, _QUIL_WHENCE whence) = 0;
    virtual void Write(const void* buffer, uint32_t length, uint32_t* written) = 0;
    virtual void SetFileSize(int64_t size) = 0;
    virtual ~UserMetaWriter() = default;
};

// Common base of the XML-like files. The content is committed by Close.
class QUIL_WRITER_API XMLReaderWriter {
public:
    virtual void Close() = 0;
    virtual int64_t GetFileSize() = 0;
    virtual void Read(void* buffer, uint32_t length, uint32_t* read) = 0;
    virtual void Seek(int64_t distance, int64_t* newPosition, _QUIL_WHENCE whence) = 0;
    virtual void Write(const void* buffer, uint32_t length, uint32_t* written) = 0;
    virtual void SetFileSize(int64_t size) = 0;
    virtual ~XMLReaderWriter() = default;
};

// \ALIAS.XML
class QUIL_WRITER_API AliasWriter : public XMLReaderWriter {
public:
    static std::shared_ptr<AliasWriter> create(const std::u16string& root);
    static std::shared_ptr<AliasWriter> open(const std::u16string& root);
};

// \DISCMETA.XML; openExisting is false to create the file, true to open it.
class QUIL_WRITER_API DiscMetaWriter : public XMLReaderWriter {
public:
    static std::shared_ptr<DiscMetaWriter> open(const std::u16string& root, bool openExisting);
};

// Edit list (\EDIT\*E01.SMI).
class QUIL_WRITER_API EditlistWriter : public XMLReaderWriter {
public:
    static std::shared_ptr<EditlistWriter> create(const std::u16string& root, const std::u16string& name,
                                                  _QUIL_NAMING_MODE naming, _QUIL_UMID_MODE umidMode);
    static std::shared_ptr<EditlistWriter> open(const std::u16string& root, const std::u16string& name,
                                                _QUIL_NAMING_MODE naming, _QUIL_UMID_MODE umidMode);
};

// Clip non-real-time metadata (\CLIP\*M01.XML).
class QUIL_WRITER_API ClipNRTMetaWriter : public XMLReaderWriter {
public:
    static std::shared_ptr<ClipNRTMetaWriter> open(const std::u16string& root, const std::u16string& name,
                                                   _QUIL_NAMING_MODE naming);
};

// Edit-list non-real-time metadata (\EDIT\*M01.XML).
class QUIL_WRITER_API EdlNRTMetaWriter : public XMLReaderWriter {
public:
    static std::shared_ptr<EdlNRTMetaWriter> open(const std::u16string& root, const std::u16string& name,
                                                  _QUIL_NAMING_MODE naming);
};

// ---------------------------------------------------------------------------
// Name operations. Each throws on failure.
// ---------------------------------------------------------------------------

QUIL_WRITER_API void DeleteClipFile(const std::u16string& root, const std::u16string& name,
                                    _QUIL_NAMING_MODE naming);
QUIL_WRITER_API void DeleteComponentFile(const std::u16string& root, const std::u16string& name,
                                         _QUIL_NAMING_MODE naming);
QUIL_WRITER_API void DeleteEdlFile(const std::u16string& root, const std::u16string& name,
                                   _QUIL_NAMING_MODE naming);
QUIL_WRITER_API void DeleteUserMetaFile(const std::u16string& root, const std::u16string& name,
                                        _QUIL_NAMING_MODE naming);

QUIL_WRITER_API void RenameClipFile(const std::u16string& root, const std::u16string& oldName,
                                    const std::u16string& newName, _QUIL_NAMING_MODE naming);
QUIL_WRITER_API void RenameComponentFile(const std::u16string& root, const std::u16string& oldName,
                                         const std::u16string& newName, _QUIL_NAMING_MODE naming);
QUIL_WRITER_API void RenameEdlFile(const std::u16string& root, const std::u16string& oldName,
                                   const std::u16string& newName, _QUIL_NAMING_MODE naming);

// lock true makes the file read-only, false writable again.
QUIL_WRITER_API void LockClipFile(const std::u16string& root, const std::u16string& name, bool lock,
                                  _QUIL_NAMING_MODE naming);
QUIL_WRITER_API void LockComponentFile(const std::u16string& root, const std::u16string& name, bool lock,
                                       _QUIL_NAMING_MODE naming);

QUIL_WRITER_API void DeleteUserDataFile(const std::u16string& root, const std::u16string& name);
QUIL_WRITER_API void DeleteGeneralFile(const std::u16string& root, const std::u16string& name);
QUIL_WRITER_API void RemoveUserDataDirectory(const std::u16string& root, const std::u16string& name);
QUIL_WRITER_API void RemoveGeneralDirectory(const std::u16string& root, const std::u16string& name);
QUIL_WRITER_API void CreateUserDataDirectory(const std::u16string& root, const std::u16string& name,
                                             void* security);
QUIL_WRITER_API void CreateGeneralDirectory(const std::u16string& root, const std::u16string& name,
                                            void* security);

QUIL_WRITER_API void MoveUserDataFile(const std::u16string& root, const std::u16string& oldName,
                                      const std::u16string& newName);
QUIL_WRITER_API void MoveGeneralFile(const std::u16string& root, const std::u16string& oldName,
                                     const std::u16string& newName);
// flags as MoveFileExW takes them.
QUIL_WRITER_API void MoveUserDataFileEx(const std::u16string& root, const std::u16string& oldName,
                                        const std::u16string& newName, uint32_t flags);
QUIL_WRITER_API void MoveGeneralFileEx(const std::u16string& root, const std::u16string& oldName,
                                       const std::u16string& newName, uint32_t flags);

QUIL_WRITER_API void SetUserDataFileAttributes(const std::u16string& root, const std::u16string& name,
                                               uint32_t attributes);
QUIL_WRITER_API void SetGeneralFileAttributes(const std::u16string& root, const std::u16string& name,
                                              uint32_t attributes);

// ---------------------------------------------------------------------------
// Volume operations
// ---------------------------------------------------------------------------

// Starts the writer side of the volume at root. media arrives as the caller
// found the medium and may be completed by the writer. The writer reads the
// disc through reader, which must outlive the volume. Throws on failure.
QUIL_WRITER_API void CreateVolume(const std::u16string& root, const _Volume_Param& param, Media_Param_& media,
                                  QUILCacheReader* reader);

// Ends the volume opening. Must not throw.
QUIL_WRITER_API void CreateVolumeEnd();

// Checks the volume (the core passes repair false). *result receives 0 when
// the volume is good, else a writer error code. Throws when the check cannot
// run.
QUIL_WRITER_API void CheckVolume(const std::u16string& root, bool repair, int32_t* result);

// Checks the AV tree. discId receives the tree's identifier; aliasRename the
// handling of duplicated file names. Throws on failure; the codes 0x8400000F
// and 0x84000010 are the two failures that the caller tells apart.
QUIL_WRITER_API void CheckKeldaFile(const std::u16string& root, const _Volume_Param& param, std::string& discId,
                                    QUIL_AliasRename& aliasRename);

// Parses length bytes of DISCMETA.XML text (UTF-8, not terminated).
// Returns true when the text is a valid disc metadata document; discId then
// receives its identifier and versionIsCurrent whether the document already
// has the current (1.00) form. When it is false, writing the same bytes back
// through DiscMetaWriter lets the writer bring the file to 1.00, which is
// what a disc in 2.3 mode needs. Returns false (or throws) when the text
// cannot be parsed; versionIsCurrent has no meaning then.
QUIL_WRITER_API bool parseDiscmeta(const char* text, uint32_t length, std::string& discId, bool& versionIsCurrent);

// Makes the writer present this ALIAS.XML content on a disc that cannot be
// written. Must not throw.
QUIL_WRITER_API void setVirtualAlias(const std::vector<uint8_t>& alias);

QUIL_WRITER_API void FlushVolume(const std::u16string& root);
QUIL_WRITER_API void SetVolumeLabel(const std::u16string& root, const std::u16string& label);

} // namespace QUILWriter

// The writer's own Windows-level error (0: none), kept apart from its
// exceptions. The core clears it before a relayed user-data or general-file
// call and moves a non-zero value into the thread's Windows error after.
namespace QUILWriterLastError {

class QUIL_WRITER_API QUILLastErrorManager {
public:
    static uint32_t get();
    static void clear();
    // Not used by the core: this is how the writer library itself records
    // the Windows-level error of a failing call.
    static void set(uint32_t value);
};

} // namespace QUILWriterLastError

#endif // QUIL_SIBLING_QUILWRITER_H
