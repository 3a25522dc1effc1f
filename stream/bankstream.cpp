#include <ormix/stream/bankstream.h>

#include <algorithm>
#include <cstring>

std::shared_ptr<TBankStream> TBankStream::Create(TBankPtr bank, int readable, int writeable) {
  if (!bank) return nullptr;
  auto s = std::make_shared<TBankStream>();
  s->_bank = std::move(bank);
  s->_read = readable;
  s->_write = writeable;
  return s;
}

int64_t TBankStream::Seek(int64_t pos) {
  _pos = std::clamp<int64_t>(pos, 0, Size());
  return _pos;
}

int TBankStream::Close() {
  _bank.reset();
  _pos = 0;
  return 0;
}

int TBankStream::Read(void* buf, int count) {
  if (count <= 0 || !_read || !_bank) return 0;
  const int64_t n = std::min<int64_t>(count, Size() - _pos);
  if (n <= 0) return 0;
  std::memcpy(buf, _bank->data() + _pos, static_cast<size_t>(n));
  _pos += n;
  return static_cast<int>(n);
}

int TBankStream::Write(const void* buf, int count) {
  if (count <= 0 || !_write || !_bank) return 0;
  const uint64_t end = static_cast<uint64_t>(_pos) + static_cast<uint64_t>(count);
  if (end > _bank->max_size()) return 0;
  if (end > _bank->size()) _bank->resize(static_cast<size_t>(end));
  std::memcpy(_bank->data() + _pos, buf, static_cast<size_t>(count));
  _pos += count;
  return count;
}

TBankPtr NewBank(size_t size) { return std::make_shared<TBank>(size); }

TBankPtr LoadBank(const Text& url) { return std::make_shared<TBank>(LoadAllBytes(url)); }

TStreamPtr OpenUrlStream(const TBankPtr& bank, int readable, int writeable) {
  return TBankStream::Create(bank, readable, writeable);
}
