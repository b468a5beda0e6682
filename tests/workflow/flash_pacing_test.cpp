// The pacing arithmetic behind the progress figures: the pieces of hex text every block
// goes out in, and what the whole dialogue costs at the least.
#include "workflow/flash_pacing.h"

#include <gtest/gtest.h>

namespace apptest {
namespace {

TEST(FlashPlanTest, PiecesFollowTheBlocksHexText) {
  // 32 bytes: 64 digits and a line break. 131072 bytes: 270336 characters, 264 pieces.
  EXPECT_EQ(app::HexTextChars(32), 66);
  EXPECT_EQ(app::HexTextChars(31), 62);
  EXPECT_EQ(app::PiecesOfBlock(131072), 264);
  EXPECT_EQ(app::PiecesOfBlock(0), 0);
  EXPECT_EQ(app::PiecesOfBlock(1), 1);

  // A font of 200 KiB is a block of 131072 bytes and one of 73728 (152064 characters, 149
  // pieces); the frw item and unknown types are no sections; an empty section costs
  // nothing.
  const app::FlashPlan plan({{"frw", "fw.bin", 3000},
                             {"font", "f.bin", 200 * 1024},
                             {"readme", "r.txt", 99},
                             {"bootloader", "b.bin", 0}});
  ASSERT_EQ(plan.Sections().size(), 2u);
  EXPECT_EQ(plan.Sections()[0].pieces, 264 + 149);
  EXPECT_EQ(plan.Pieces(), 413);
  EXPECT_EQ(plan.TotalMs(), 5000u + 500u + 500u + 413u * 20u);
  EXPECT_EQ(plan.PiecesDone(0, 0, 0), 0);
  EXPECT_EQ(plan.PiecesDone(0, 0, 1), 1);
  EXPECT_EQ(plan.PiecesDone(0, 131072, 2048), 264 + 2);
  EXPECT_EQ(plan.PiecesDone(1, 0, 0), 413);
}

}  // namespace
}  // namespace apptest
