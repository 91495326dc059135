// The starting operators offered for a non-equilibrium run: single spins first, then coupled
// pairs, then coupled chains of three, each named in the letter-digit-component groups that the
// preparation reads back.
#include "model/operator_choices.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::model {
namespace {

SpinSystem startUpSystem()
{
    SpinSystem spins;
    spins.rebuild();
    return spins;
}

TEST(OperatorChoices, StartUpMoleculeOffersSinglesThenCoupledPairsThenTheChain)
{
    const std::vector<std::string> choices = initialOperatorChoices(startUpSystem());

    // H0-H1 (30 Hz) and H1-C2 (140 Hz) are coupled, H0-C2 is not: 9 singles, 2 x 9 pairs, 27 triples.
    ASSERT_EQ(choices.size(), 9u + 18u + 27u);
    const std::vector<std::string> singles(choices.begin(), choices.begin() + 9);
    EXPECT_EQ(singles,
              (std::vector<std::string>{"H0x", "H0y", "H0z", "H1x", "H1y", "H1z", "C2x", "C2y", "C2z"}));
    EXPECT_EQ(choices[9], "H0xH1x");
    EXPECT_EQ(choices[10], "H0xH1y");
    EXPECT_EQ(choices[12], "H0yH1x") << "the first spin's component varies slowest";
    EXPECT_EQ(choices[17], "H0zH1z");
    EXPECT_EQ(choices[18], "H1xC2x");
    EXPECT_EQ(choices[26], "H1zC2z");
    EXPECT_EQ(choices[27], "H0xH1xC2x");
    EXPECT_EQ(choices[28], "H0xH1xC2y");
    EXPECT_EQ(choices.back(), "H0zH1zC2z");
    for (const std::string& name : choices)
        EXPECT_EQ(name.find("H0xC2"), std::string::npos) << "H0 and C2 are not coupled: " << name;
}

TEST(OperatorChoices, EveryNameIsMadeOfLetterDigitComponentGroups)
{
    const SpinSystem spins = startUpSystem();
    for (const std::string& name : initialOperatorChoices(spins)) {
        ASSERT_EQ(name.size() % 3, 0u) << name;
        for (std::size_t g = 0; g < name.size(); g += 3) {
            const int spin = name[g + 1] - '0';
            ASSERT_GE(spin, 0) << name;
            ASSERT_LT(spin, spins.spinCount()) << name;
            EXPECT_EQ(name[g], spins.label(spin).front()) << name;
            EXPECT_NE(std::string("xyz").find(name[g + 2]), std::string::npos) << name;
        }
    }
}

TEST(OperatorChoices, ThreeSpinsNeedTwoCouplingsAmongThem)
{
    SpinSystem spins = startUpSystem();
    spins.setCouplingHz(1, 2, 0.0);  // only H0-H1 remains
    spins.rebuild();
    EXPECT_EQ(initialOperatorChoices(spins).size(), 9u + 9u);

    spins.setCouplingHz(0, 2, 5.0);  // H1-H0-C2: a chain through spin 0
    const std::vector<std::string> chain = initialOperatorChoices(spins);
    ASSERT_EQ(chain.size(), 9u + 18u + 27u);
    EXPECT_EQ(chain[18], "H0xC2x");
    EXPECT_EQ(chain[27], "H0xH1xC2x");

    spins.setCouplingHz(1, 2, 7.0);  // a triangle still gives the triple once
    EXPECT_EQ(initialOperatorChoices(spins).size(), 9u + 27u + 27u);
}

TEST(OperatorChoices, OneUncoupledSpinOffersItsThreeComponents)
{
    SpinSystem spins = startUpSystem();
    ASSERT_TRUE(spins.setLabel(0, "N0"));
    ASSERT_TRUE(spins.setLabel(1, ""));
    ASSERT_TRUE(spins.setLabel(2, ""));
    spins.rebuild();
    ASSERT_EQ(spins.spinCount(), 1);
    EXPECT_EQ(initialOperatorChoices(spins), (std::vector<std::string>{"N0x", "N0y", "N0z"}));

    ASSERT_TRUE(spins.setLabel(0, ""));
    spins.rebuild();
    EXPECT_TRUE(initialOperatorChoices(spins).empty())
        << "the empty slot left by the last spin offers nothing";
}

}  // namespace
}  // namespace velmora::model
