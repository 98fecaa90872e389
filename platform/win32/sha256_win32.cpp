#include "platform/win32/windows_min.h"

#include <bcrypt.h>

#include <new>

#include "platform/sha256.h"

namespace platform {

namespace {

bool succeeded(NTSTATUS status) { return status >= 0; }

// One provider for the process, opened on first use: opening one is the
// costly step.
BCRYPT_ALG_HANDLE provider() {
  static const BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!succeeded(::BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) h = nullptr;
    return h;
  }();
  return algorithm;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool failed = false;

  bool start() {
    if (hash) ::BCryptDestroyHash(hash);
    hash = nullptr;
    // Without an object buffer of ours the system keeps the hash's state.
    return provider() && succeeded(::BCryptCreateHash(provider(), &hash, nullptr, 0, nullptr, 0, 0));
  }
};

Sha256::Sha256() : state_(new State) {
  if (!provider()) throw std::bad_alloc();
  state_->failed = !state_->start();
}

Sha256::~Sha256() {
  if (state_ && state_->hash) ::BCryptDestroyHash(state_->hash);
}

Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&& other) noexcept {
  if (this != &other) {
    if (state_ && state_->hash) ::BCryptDestroyHash(state_->hash);
    state_ = std::move(other.state_);
  }
  return *this;
}

void Sha256::update(const void* data, std::size_t size) {
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  // BCryptHashData takes at most a ULONG at a time.
  while (!state_->failed && size != 0) {
    const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    state_->failed = !succeeded(::BCryptHashData(state_->hash, bytes, piece, 0));
    bytes += piece;
    size -= piece;
  }
}

std::optional<Sha256::Digest> Sha256::finish() {
  Digest digest;
  const bool ok = !state_->failed && succeeded(::BCryptFinishHash(state_->hash, digest.data(), digest.size(), 0));
  state_->failed = !state_->start();
  if (!ok) return std::nullopt;
  return digest;
}

}  // namespace platform
