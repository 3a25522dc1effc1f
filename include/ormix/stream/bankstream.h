#pragma once
// Streams over memory banks. A bank is a shared, growable block of bytes; a bank stream
// reads and writes it at its own position and makes the bank larger when it is written
// past its end, so a bank collects whatever is written to it.
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/stream/stream.h>

class TBankStream : public TStream {
public:
  TBankPtr _bank;  // released by Close
  int64_t _pos = 0;
  int _read = 0;
  int _write = 0;

  int64_t Pos() override { return _pos; }
  int64_t Size() override { return _bank ? static_cast<int64_t>(_bank->size()) : 0; }
  // Clamps to 0 ... Size().
  int64_t Seek(int64_t pos) override;
  int Close() override;
  int Read(void* buf, int count) override;
  // Grows the bank when the bytes pass its end.
  int Write(const void* buf, int count) override;

  // Null when bank is null.
  static std::shared_ptr<TBankStream> Create(TBankPtr bank, int readable, int writeable);
};

// A new bank of size zero bytes.
TBankPtr NewBank(size_t size = 0);
// All bytes of a URL (see LoadAllBytes) in a new bank.
TBankPtr LoadBank(const Text& url);
