// solvan_reduce_multistar_digest and solvan_guider_reponse: outlier rejection with its debug
// lines, two stars always used, stars whose drift fails, the limits, and the guiding response.
#include "CapturedLog.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

solvan_digest centroid(double x, double y, int width = 640, int height = 480) {
    solvan_digest d{};
    d.algorithm = SOLVAN_DIGEST_CENTROID;
    d.width = width, d.height = height;
    d.centroid_x = x, d.centroid_y = y;
    return d;
}

struct Stars {
    std::vector<solvan_digest> references, currents;
    // A star at (10 i, 5) that moved by `drift` along x.
    void add(double drift) {
        const double x = 10.0 * double(references.size());
        references.push_back(centroid(x, 5));
        currents.push_back(centroid(x + drift, 5));
    }
    int reduce(const solvan_digest* base, int count, solvan_digest* result) {
        return solvan_reduce_multistar_digest(base, references.data(), currents.data(), count,
                                              result);
    }
};

const char* const kName = "solvan_reduce_multistar_digest";

TEST(Multistar, TheOutlierIsSkipped) {
    Stars s;
    for (double d : {1.0, 1.1, 0.9, 5.0})
        s.add(d);
    const solvan_digest base = centroid(100, 200);
    solvan_digest result{};
    CapturedLog log(SOLVAN_LOG_DEBUG);
    ASSERT_EQ(s.reduce(&base, 4, &result), SOLVAN_OK);
    EXPECT_EQ(result.algorithm, 1u);
    EXPECT_EQ(result.width, 640);
    EXPECT_NEAR(result.centroid_x, 101.0, 1e-12);
    EXPECT_NEAR(result.centroid_y, 200.0, 1e-12);
    std::vector<std::string> expected = {
        "average = 2.0000 stddev = 1.7335",
        "++ Used star [0] drift = 1.0000",
        "++ Used star [1] drift = 1.1000",
        "++ Used star [2] drift = 0.9000",
        "-- Skip star [3] drift = 5.0000",
        "== Result using 3 of 4 stars. Drifts = ( 1.000, 0.000 ) digest = ( 101.000, 200.000 )",
    };
    for (std::string& line : expected)
        line = std::string(kName) + ": " + line;
    EXPECT_EQ(log.lines(), expected);
}

TEST(Multistar, TwoStarsAreAlwaysUsedAndAStarWhoseDriftFailsTakesNoPart) {
    const solvan_digest base = centroid(0, 0);
    solvan_digest result{};
    Stars two;
    two.add(0.1);
    two.add(50);
    ASSERT_EQ(two.reduce(&base, 2, &result), SOLVAN_OK);
    EXPECT_NEAR(result.centroid_x, 25.05, 1e-12);

    Stars s;
    for (double d : {1.0, 1.2, 30.0})
        s.add(d);
    s.currents[2].width = 1000;  // sizes differ: no drift for star 2
    CapturedLog log(SOLVAN_LOG_DEBUG);
    ASSERT_EQ(s.reduce(&base, 3, &result), SOLVAN_OK);
    EXPECT_NEAR(result.centroid_x, 1.1, 1e-12);  // two valid stars: both used
    EXPECT_EQ(log.lines().front(), std::string(kName) + ": average = 1.1000 stddev = 0.1000");

    for (solvan_digest& c : s.currents)
        c.width = 1000;
    result = centroid(-1, -1, 1, 1);
    EXPECT_EQ(s.reduce(&base, 3, &result), SOLVAN_NO_STAR);
    EXPECT_EQ(result.centroid_x, 0);  // the header written, at the base centroid
    EXPECT_EQ(result.width, 1000);
}

TEST(Multistar, RejectedArgumentsWriteNothing) {
    Stars s;
    for (int i = 0; i < 13; ++i)
        s.add(1);
    const solvan_digest base = centroid(0, 0);
    solvan_digest notCentroid = base;
    notCentroid.algorithm = SOLVAN_DIGEST_DONUTS;
    struct Case {
        const solvan_digest* base;
        int count;
    };
    for (const Case c :
         {Case{&base, 13}, Case{&base, 0}, Case{&notCentroid, 3}, Case{nullptr, 3}}) {
        solvan_digest result = centroid(-5, -5, 3, 3);
        EXPECT_EQ(s.reduce(c.base, c.count, &result), SOLVAN_FAILED);
        EXPECT_EQ(result.centroid_x, -5);
        EXPECT_EQ(result.width, 3);
    }
    solvan_digest result{};
    EXPECT_EQ(s.reduce(&base, 12, &result), SOLVAN_OK);  // twelve is the most
    s.references[0].algorithm = 2;
    EXPECT_EQ(s.reduce(&base, 3, &result), SOLVAN_FAILED);
    EXPECT_EQ(s.reduce(&base, 3, nullptr), SOLVAN_FAILED);
}

TEST(GuiderResponse, ProportionalAndIntegral) {
    CapturedLog log(SOLVAN_LOG_DEBUG);
    EXPECT_DOUBLE_EQ(solvan_guider_reponse(0.5, 0.1, 1, 2, 1), -1.1);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0],
              "solvan_guider_reponse(): P = 0.5000, I = 0.1000, response = -1.1000, drift = "
              "2.0000, avg_drift = 1.0000");
    EXPECT_DOUBLE_EQ(solvan_guider_reponse(0.7, 0.2, 3, -1, 0.5), 0.4);  // -(-0.7 + 0.3)
}

}  // namespace
