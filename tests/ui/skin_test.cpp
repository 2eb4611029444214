// The skin pictures compiled into the program: every id the windows use,
// at the size they are placed at.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/resources.h"
#include "shell/log.h"
#include "ui/common_dlg.h"

namespace zel {
namespace {

struct Size {
  int id, width, height, bits;
};

const Size kSkin[] = {
    {185, 622, 405, 24}, {132, 311, 311, 24}, {182, 311, 311, 24}, {183, 311, 311, 24},
    {190, 311, 311, 24}, {133, 255, 255, 24}, {184, 9, 9, 24},     {135, 622, 1, 24},
    {153, 622, 1, 24},   {154, 342, 228, 24}, {155, 602, 10, 24},  {156, 602, 10, 24},
    {138, 126, 44, 24},  {139, 126, 44, 24},  {187, 126, 44, 24},  {188, 126, 44, 24},
    {161, 100, 32, 24},  {162, 100, 32, 24},  {163, 100, 32, 24},  {140, 17, 21, 24},
    {142, 17, 21, 24},   {143, 17, 21, 24},   {144, 17, 21, 24},   {146, 17, 21, 24},
    {147, 17, 21, 24},   {148, 17, 21, 24},   {149, 17, 21, 24},   {150, 17, 21, 24},
    {151, 17, 21, 24},   {157, 14, 14, 24},   {158, 14, 14, 24},   {159, 14, 14, 24},
    {160, 14, 14, 24},   {165, 13, 7, 24},    {166, 13, 7, 24},    {167, 13, 7, 24},
    {168, 13, 7, 24},    {169, 26, 26, 32},   {170, 26, 26, 32},   {171, 26, 26, 32},
    {174, 100, 32, 24},  {176, 100, 32, 24},  {177, 100, 32, 24},  {175, 30, 30, 24},
    {178, 17, 21, 24},   {179, 17, 21, 24},   {180, 17, 21, 24},
};

TEST(SkinTest, EveryPictureLoadsAtItsSize) {
  for (const Size& s : kSkin) {
    BMData data;
    ASSERT_TRUE(data.Load(s.id)) << s.id;
    EXPECT_EQ(data.width(), s.width) << s.id;
    EXPECT_EQ(data.height(), s.height) << s.id;
    EXPECT_EQ(data.bitmap()->bits_per_pixel(), s.bits) << s.id;
    ASSERT_NE(data.pixels(), nullptr);
  }
}

TEST(SkinTest, EmblemsUseWhiteAsTransparency) {
  for (int id : {132, 182, 183, 190}) {
    BMData data;
    ASSERT_TRUE(data.Load(id));
    const std::uint32_t* px = data.pixels();
    // Corners and edges are pure white; the centre is the coloured disc.
    for (int i : {0, 310, 311 * 310, 311 * 311 - 1, 155})
      EXPECT_EQ(px[i], 0xFFFFFFu) << id;
    EXPECT_NE(px[170 * 311 + 90], 0xFFFFFFu) << id;
    EXPECT_EQ(px[170 * 311 + 90] >> 24, 0u) << "24-bit pixels carry no alpha";
  }
  // The "done" ring is where the plain emblem is not.
  BMData plain, done;
  ASSERT_TRUE(plain.Load(190));
  ASSERT_TRUE(done.Load(183));
  EXPECT_NE(plain.pixels()[155 * 311 + 17], done.pixels()[155 * 311 + 17]);
}

TEST(SkinTest, WindowIconIsThere) {
  EXPECT_FALSE(platform::FindResource(107, "ICON").empty());
}

std::vector<std::string> g_lines;
int Keep(const char* line) {
  g_lines.emplace_back(line);
  return 1;
}

TEST(SkinTest, MissingOrBrokenPictureLeavesNothing) {
  g_lines.clear();
  ILog::Instance().SetSink(Keep);
  BMData data;
  ASSERT_TRUE(data.Load(190));
  EXPECT_FALSE(data.Load(99999));
  EXPECT_EQ(data.bitmap(), nullptr);
  EXPECT_EQ(data.pixels(), nullptr);
  EXPECT_EQ(data.width(), 0);
  EXPECT_EQ(LoadSkinBitmap(99999), nullptr);
  static const unsigned char kJunk[] = {0x89, 'P', 'N', 'G', 0, 0, 0, 0, 1, 2, 3};
  static const platform::ResourceEntry kBroken[] = {{99998, "BITMAP", kJunk, sizeof(kJunk)}};
  platform::RegisterResources(kBroken, 1);
  EXPECT_EQ(LoadSkinBitmap(99998), nullptr);
  EXPECT_FALSE(data.Load(99998));
  ILog::Instance().SetSink(nullptr);
  // Each failure says which picture and why.
  ASSERT_GE(g_lines.size(), 3u);
  EXPECT_NE(g_lines[0].find("LoadSkinBitmap(99999): no such picture resource"), std::string::npos);
  EXPECT_NE(g_lines.back().find("LoadSkinBitmap(99998): the picture resource is unreadable"),
            std::string::npos);
}

}  // namespace
}  // namespace zel
