#include "text_copy.h"

#include <cstring>

#include "heap_buffer.h"

namespace {

constexpr DWORD kBlockSize = 64 * 1024;
constexpr char kEndOfText = 0x1A;

// The first CR or 0x1A in [begin, begin + size), or begin + size.
const char* NextSpecial(const char* begin, size_t size) {
  const char* end = begin + size;
  const void* cr = std::memchr(begin, '\r', size);
  const void* eof = std::memchr(begin, kEndOfText, size);
  const char* first = cr ? static_cast<const char*>(cr) : end;
  if (eof && static_cast<const char*>(eof) < first) first = static_cast<const char*>(eof);
  return first;
}

// The translated input: the file's bytes with CR LF as LF, up to the first
// 0x1A or the end of the file.
class TextInput {
 public:
  explicit TextInput(HANDLE file) : file_(file), block_(kBlockSize) {}
  bool valid() const { return block_.valid(); }

  // Fills `out` with up to `capacity` translated bytes: the count, 0 at the
  // end of the input, -1 on a read error.
  long Read(char* out, DWORD capacity) {
    DWORD produced = 0;
    while (produced < capacity && !ended_) {
      if (next_ == filled_ && !Refill()) return -1;
      if (next_ == filled_) {
        ended_ = true;
        if (pending_cr_) out[produced++] = '\r';  // a CR at the very end stays
        pending_cr_ = false;
        break;
      }
      const char* at = block_.text() + next_;
      if (pending_cr_) {
        // A CR followed by LF is one LF; a CR without LF stays, and the
        // byte after it is read next.
        pending_cr_ = false;
        out[produced++] = *at == '\n' ? '\n' : '\r';
        if (*at == '\n') ++next_;
        continue;
      }
      // Plain bytes up to the next CR or 0x1A go over as they are.
      const DWORD room = capacity - produced;
      const DWORD available = filled_ - next_;
      const char* special = NextSpecial(at, available < room ? available : room);
      const DWORD run = static_cast<DWORD>(special - at);
      std::memcpy(out + produced, at, run);
      produced += run;
      next_ += run;
      if (run == available || run == room) continue;
      ++next_;
      if (*special == kEndOfText)
        ended_ = true;
      else
        pending_cr_ = true;
    }
    return static_cast<long>(produced);
  }

 private:
  bool Refill() {
    DWORD got = 0;
    if (!ReadFile(file_, block_.get(), kBlockSize, &got, nullptr)) return false;
    next_ = 0;
    filled_ = got;
    return true;
  }

  HANDLE file_;
  HeapBuffer block_;
  DWORD next_ = 0;
  DWORD filled_ = 0;
  bool pending_cr_ = false;
  bool ended_ = false;
};

// The translated output: a CR before every LF, written in blocks.
class TextOutput {
 public:
  explicit TextOutput(HANDLE file) : file_(file), block_(kBlockSize) {}
  bool valid() const { return block_.valid(); }

  bool Write(const char* data, DWORD size) {
    while (size > 0) {
      const void* found = std::memchr(data, '\n', size);
      const DWORD run = found ? static_cast<DWORD>(static_cast<const char*>(found) - data) : size;
      if (!Put(data, run)) return false;
      if (!found) break;
      if (!Put("\r\n", 2)) return false;
      data += run + 1;
      size -= run + 1;
    }
    return true;
  }

  bool Flush() {
    if (used_ == 0) return true;
    DWORD written = 0;
    const bool ok = WriteFile(file_, block_.get(), used_, &written, nullptr) && written == used_;
    used_ = 0;
    return ok;
  }

 private:
  bool Put(const char* data, DWORD size) {
    while (size > 0) {
      if (used_ == kBlockSize && !Flush()) return false;
      const DWORD room = kBlockSize - used_;
      const DWORD part = size < room ? size : room;
      std::memcpy(block_.text() + used_, data, part);
      used_ += part;
      data += part;
      size -= part;
    }
    return true;
  }

  HANDLE file_;
  HeapBuffer block_;
  DWORD used_ = 0;
};

}  // namespace

bool CopyAsText(HANDLE source, HANDLE destination) {
  TextInput input(source);
  TextOutput output(destination);
  HeapBuffer chunk(kBlockSize);
  if (!input.valid() || !output.valid() || !chunk.valid()) return false;
  for (;;) {
    const long got = input.Read(chunk.text(), kBlockSize);
    if (got < 0) return false;
    if (got == 0) return output.Flush();
    if (!output.Write(chunk.text(), static_cast<DWORD>(got))) return false;
  }
}
