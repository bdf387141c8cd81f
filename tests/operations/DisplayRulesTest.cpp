// The display rules every front end draws by.
#include "operations/DisplayRules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(LowestForce, TheHeaviestToolAsAForceAndNoEndForANegativeWeight) {
    EXPECT_DOUBLE_EQ(LowestForce(5, "kg"), -49.0);   // kilograms become newtons
    EXPECT_DOUBLE_EQ(LowestForce(10, "Lb."), -10.0); // pounds are taken as pounds of force
    EXPECT_DOUBLE_EQ(LowestForce(0, "kg"), 0.0);
    EXPECT_TRUE(std::isnan(LowestForce(-10, "kg")));
    EXPECT_TRUE(std::isnan(LowestForce(-0.001, "Lb.")));
    EXPECT_FALSE(Drawable(LowestForce(-10, "kg"), 500));
    EXPECT_TRUE(Drawable(LowestForce(25, "kg"), 500));
    EXPECT_FALSE(Drawable(10, 5)); // ends crossed
    EXPECT_FALSE(Drawable(0, std::numeric_limits<double>::infinity()));
    const TScaleEnds ends{-245, 500};
    EXPECT_DOUBLE_EQ(ends.Middle(), 127.5);
}

// The gauges take a live value as it comes; the setup dialogs count the steps a person typed.
TEST(Ticks, GaugeTruncatesAsItComesEditForgivesTheBinaryHair) {
    struct {
        double Value, Scale;
        int32_t Gauge;
        int Edit;
    } rows[] = {
        {0.29, 100, 28, 29}, // 28.999999999999996 in binary
        {0.57, 100, 56, 57},
        {1.15, 100, 114, 115},
        {12.349, 100, 1234, 1234},
        {12.3, 10, 123, 123},
        {-0.29, 100, -28, -29},
        {0.299, 100, 29, 29},
        {1e20, 100, 2147483647, 2147483647},
        {-1e20, 100, -2147483647, -2147483647 - 1}, // the gauge count stays negatable
        {std::nan(""), 100, 0, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(GaugeTicks(row.Value, row.Scale), row.Gauge) << row.Value;
        EXPECT_EQ(TruncTicks(row.Value, row.Scale), row.Edit) << row.Value;
    }
}

TEST(Orientation, TruncatedArcSineHeldToOneG) {
    EXPECT_EQ(HorizonDegrees(0), 0);
    EXPECT_EQ(HorizonDegrees(0.5), 30);
    EXPECT_EQ(HorizonDegrees(0.7), 44); // 44.43 degrees, truncated
    EXPECT_EQ(HorizonDegrees(-0.7), -44);
    EXPECT_EQ(HorizonDegrees(1), 90);
    EXPECT_EQ(HorizonDegrees(3), 90);
    EXPECT_EQ(HorizonDegrees(-3), -90);
    EXPECT_EQ(HorizonDegrees(std::nan("")), -90);
    EXPECT_NEAR(OrientationAngle(0.7), 44.427, 0.001); // the trend's, not truncated
}
