#include <openssl/evp.h>

#include <new>

#include "platform/sha256.h"

namespace platform {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  bool failed = false;

  bool start() { return EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1; }
};

Sha256::Sha256() : state_(new State) {
  state_->context = EVP_MD_CTX_new();
  if (!state_->context) throw std::bad_alloc();
  state_->failed = !state_->start();
}

Sha256::~Sha256() {
  if (state_) EVP_MD_CTX_free(state_->context);
}

Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&& other) noexcept {
  if (this != &other) {
    if (state_) EVP_MD_CTX_free(state_->context);
    state_ = std::move(other.state_);
  }
  return *this;
}

void Sha256::update(const void* data, std::size_t size) {
  if (!state_->failed && size != 0) state_->failed = EVP_DigestUpdate(state_->context, data, size) != 1;
}

std::optional<Sha256::Digest> Sha256::finish() {
  Digest digest;
  unsigned int length = 0;
  const bool ok = !state_->failed && EVP_DigestFinal_ex(state_->context, digest.data(), &length) == 1 &&
                  length == digest.size();
  state_->failed = !state_->start();
  if (!ok) return std::nullopt;
  return digest;
}

}  // namespace platform
