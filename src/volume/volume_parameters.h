// The caller's volume parameters, read through named accessors rather than
// offsets. The text fields are fixed-width 8-bit fields that need not end
// with a NUL: a field that fills its width is read whole, never past it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "quil/quilcoreapi.h"

namespace quil::volume {

class VolumeParameters {
 public:
  explicit VolumeParameters(const _Volume_Param& p) : p_(p) {}

  uint32_t namingMode() const { return p_.namingMode; }
  // Naming mode 2 lets clip files carry names outside the numbered pattern.
  bool freeNaming() const { return p_.namingMode == 2; }
  uint32_t recInhMode() const { return p_.recInhMode; }
  uint32_t clipProtectMode() const { return p_.clipProtectMode; }
  uint32_t maxClipReadHandles() const { return p_.maxClipReadHandles; }
  bool quil23Mode() const { return p_.Quil23Mode; }

  std::string_view modelName() const { return field(p_.modelName); }
  std::string_view serialNo() const { return field(p_.serialNo); }
  std::string_view quilVersion() const { return field(p_.quilVersion); }
  std::string_view ownerCountry() const { return field(p_.ownerInfo.country); }
  std::string_view ownerOrganization() const { return field(p_.ownerInfo.organization); }
  std::string_view ownerUser() const { return field(p_.ownerInfo.user); }

  const _Volume_Param& record() const { return p_; }

 private:
  template <size_t N>
  static std::string_view field(const char (&text)[N]) {
    const void* nul = std::memchr(text, '\0', N);
    return std::string_view(text, nul != nullptr ? static_cast<const char*>(nul) - text : N);
  }

  const _Volume_Param& p_;
};

}  // namespace quil::volume
