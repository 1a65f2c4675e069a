#include "platform/EventPoster.h"

#include "platform/Accessibility.h"
#include "platform/Platform.h"
#include "platform/X11EventPoster.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace {

using platform::X11EventPoster;

TEST(WheelClicksTest, PixelsBecomeClicksOfThirtyWithTheRestCarried) {
    std::int64_t carry = 0;
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, 90), 3);
    EXPECT_EQ(carry, 0);
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, -75), -2);
    EXPECT_EQ(carry, -15);
    // Small deltas add up to a click.
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, -3), 0);
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, -12), -1);
    EXPECT_EQ(carry, 0);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, 3), 0) << i;
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, 3), 1);
    // A turn of direction drops what was carried the other way.
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, 29), 0);
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, -29), 0);
    EXPECT_EQ(carry, -29);
    // No delta leaves the carry alone.
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, 0), 0);
    EXPECT_EQ(carry, -29);
}

TEST(WheelClicksTest, OneEventGivesAtMostAHundredClicks) {
    std::int64_t carry = 0;
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, 2147483647), 100);
    EXPECT_EQ(carry, 0);
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, -2147483647 - 1), -100);
    EXPECT_EQ(carry, 0);
    EXPECT_EQ(X11EventPoster::takeWheelClicks(carry, 3030), 100);
    EXPECT_EQ(carry, 0);
}

TEST(VirtualKeyTest, KeysOfTheKeyTableAndTheShortcutsHaveSymbols) {
    // X key symbols: BackSpace, Return, Escape, KP_0 .. KP_9, KP_Decimal, KP_Add, KP_Subtract,
    // KP_Multiply, KP_Divide, KP_Equal, KP_Enter, 5, the arrows, F14, F15, Tab, space, grave.
    const std::pair<std::uint16_t, std::uint32_t> keys[] = {
        {51, 0xff08},  {36, 0xff0d},  {53, 0xff1b},  {82, 0xffb0},  {83, 0xffb1},  {84, 0xffb2},
        {85, 0xffb3},  {86, 0xffb4},  {87, 0xffb5},  {88, 0xffb6},  {89, 0xffb7},  {91, 0xffb8},
        {92, 0xffb9},  {65, 0xffae},  {69, 0xffab},  {78, 0xffad},  {67, 0xffaa},  {75, 0xffaf},
        {81, 0xffbd},  {76, 0xff8d},  {23, 0x35},    {123, 0xff51}, {124, 0xff53}, {125, 0xff54},
        {126, 0xff52}, {107, 0xffcb}, {113, 0xffcc}, {48, 0xff09},  {49, 0x20},    {50, 0x60},
        {46, 0x6d},    {4, 0x68},     {3, 0x66},     {33, 0x5b},    {30, 0x5d},    {15, 0x72},
        {13, 0x77},    {17, 0x74},    {12, 0x71},    {21, 0x34},    {0, 0x61},
    };
    for (const auto& [code, sym] : keys)
        EXPECT_EQ(X11EventPoster::keysymOfVirtualKey(code), sym) << "virtual key " << code;
    for (std::uint16_t unused :
         {std::uint16_t(66), std::uint16_t(68), std::uint16_t(127), std::uint16_t(0xffff)})
        EXPECT_FALSE(X11EventPoster::keysymOfVirtualKey(unused)) << "virtual key " << unused;
}

TEST(AccessibilityTest, TrustedExactlyWhenThePosterCanPost) {
    platform::Platform::setEventPoster(std::make_shared<platform::NullEventPoster>());
    EXPECT_FALSE(platform::Accessibility::isProcessTrusted());
    struct Able : platform::NullEventPoster {
        bool canPost() const override { return true; }
    };
    platform::Platform::setEventPoster(std::make_shared<Able>());
    EXPECT_TRUE(platform::Accessibility::isProcessTrusted());
    platform::Platform::setEventPoster(nullptr);
}

TEST(EventPosterRegistryTest, DefaultPosterIsTheX11OneWhenTheDisplayHasXTest) {
    platform::Platform::setEventPoster(nullptr);
    const bool display = X11EventPoster::open() != nullptr;
    const auto poster = platform::Platform::eventPoster();
    EXPECT_EQ(poster->canPost(), display);
    EXPECT_EQ(dynamic_cast<X11EventPoster*>(poster.get()) != nullptr, display);
    EXPECT_EQ(platform::Platform::eventPoster(), poster); // made once
    platform::Platform::setEventPoster(nullptr);
}

TEST(EventPosterRegistryTest, DisplayThatIsNotThereOpensNoPoster) {
    EXPECT_EQ(X11EventPoster::open(QStringLiteral(":4097")), nullptr);
}

} // namespace
