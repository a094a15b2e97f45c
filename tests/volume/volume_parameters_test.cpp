// The caller's volume parameters: fixed-width text fields read up to their
// NUL or their full width, never past it, and the naming flag.
#include "volume/volume_parameters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using quil::volume::VolumeParameters;

// A record whose every byte is set, so that a read past a field's end would
// pick up the next field's characters.
_Volume_Param filled() {
  _Volume_Param p;
  std::memset(&p, 'Z', sizeof p);
  return p;
}

TEST(VolumeParameters, TextEndsAtItsFirstNulOrFillsItsWidth) {
  _Volume_Param p = filled();
  std::memset(p.modelName, 'M', sizeof p.modelName);
  std::memset(p.serialNo, 'S', sizeof p.serialNo);
  // The owner fields are four characters each.
  std::memcpy(p.ownerInfo.country, "JPNX", 4);
  std::memcpy(p.ownerInfo.organization, "AB\0\0", 4);
  std::memcpy(p.ownerInfo.user, "USER", 4);
  const VolumeParameters whole(p);
  EXPECT_EQ(whole.modelName(), std::string(32, 'M'));
  EXPECT_EQ(whole.serialNo(), std::string(64, 'S'));
  EXPECT_EQ(whole.quilVersion().size(), 32u);
  EXPECT_EQ(whole.ownerCountry(), "JPNX");
  EXPECT_EQ(whole.ownerOrganization(), "AB");
  EXPECT_EQ(whole.ownerUser(), "USER");
  std::memcpy(p.modelName, "PDW-U4\0XX", 9);
  std::memcpy(p.quilVersion, "\0abc", 4);
  const VolumeParameters cut(p);
  EXPECT_EQ(cut.modelName(), "PDW-U4");
  EXPECT_EQ(cut.quilVersion(), "");
}

TEST(VolumeParameters, OnlyNamingModeTwoIsFreeNaming) {
  _Volume_Param p = filled();
  for (const uint32_t mode : {0u, 1u, 2u, 3u, 0x102u, 0xFFFFFFFFu}) {
    p.namingMode = mode;
    const VolumeParameters v(p);
    EXPECT_EQ(v.freeNaming(), mode == 2) << mode;
    EXPECT_EQ(v.namingMode(), mode);
  }
}

}  // namespace
