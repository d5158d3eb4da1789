#include <gtest/gtest.h>

#include "core/allowed_clients.h"
#include "platform/ansi.h"

namespace velmora {
namespace {

constexpr uint32_t Address(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(AllowedClientsTest, EntriesAreAddressesOrNetworks) {
    // clang-format off
    const struct {
        const char16_t* Entry;
        bool Readable;
        uint32_t Network = 0, Mask = 0;
    } cases[] = {
        {u"10.0.0.5", true, Address(10, 0, 0, 5), 0xFFFFFFFF},
        {u"192.168.1.0/24", true, Address(192, 168, 1, 0), 0xFFFFFF00},
        {u"192.168.1.77/24", true, Address(192, 168, 1, 0), 0xFFFFFF00},  // host bits ignored
        {u"0.0.0.0/0", true, 0, 0}, {u"255.255.255.255/32", true, 0xFFFFFFFF, 0xFFFFFFFF},
        {u"010.001.0.9", true, Address(10, 1, 0, 9), 0xFFFFFFFF}, {u"256.1.1.1", false}, {u"1.2.3", false},
        {u"1.2.3.4.5", false}, {u"1.2.3.", false}, {u"a.b.c.d", false}, {u"printhost", false},
        {u"1.2.3.4/33", false}, {u"1.2.3.4/", false}, {u"1.2.3.4/2x", false}, {u"1.2.3.4/-1", false},
        {u"1..3.4", false}, {u"1.2.3.0004", false}, {u"*", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::UnicodeToAnsi(c.Entry));
        CClientRange range;
        ASSERT_EQ(ParseClientRange(c.Entry, &range), c.Readable);
        if (c.Readable) {
            EXPECT_EQ(range.Network, c.Network);
            EXPECT_EQ(range.Mask, c.Mask);
        }
    }
}

TEST(AllowedClientsTest, TheListRefusesOnlyWhenSomeEntryCanBeRead) {
    const uint32_t office = Address(192, 168, 1, 20), server = Address(10, 0, 0, 5),
                   other = Address(10, 0, 0, 6);
    // clang-format off
    const struct {
        const char16_t* List;
        bool Office, Server, Other;
        const char16_t* FirstUnreadable;
    } cases[] = {
        {u"", true, true, true, u""}, {u"  , ", true, true, true, u""},
        {u"192.168.1.0/24, 10.0.0.5", true, true, false, u""},
        {u"192.168.1.0/24 10.0.0.5", true, true, false, u""},
        {u"10.0.0.5\t,,192.168.1.20", true, true, false, u""}, {u"10.0.0.4/30", false, true, true, u""},
        {u"printhost, 10.0.0.5", false, true, false, u"printhost"},
        // No entry can be read: nobody is locked out.
        {u"printhost 10.0.0.5/40", true, true, true, u"printhost"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::UnicodeToAnsi(c.List));
        const CAllowedClients list(c.List);
        EXPECT_EQ(list.Allows(office), c.Office);
        EXPECT_EQ(list.Allows(server), c.Server);
        EXPECT_EQ(list.Allows(other), c.Other);
        EXPECT_EQ(FirstUnreadableClient(c.List), c.FirstUnreadable);
    }
    const CAllowedClients mixed(u"bad1, 10.0.0.5,bad2");
    EXPECT_EQ(mixed.Unreadable, (std::vector<std::u16string>{u"bad1", u"bad2"}));
    EXPECT_EQ(mixed.Readable, (std::vector<std::u16string>{u"10.0.0.5"}));
    EXPECT_TRUE(mixed.Written());
    EXPECT_FALSE(CAllowedClients(u" ").Written());
}

}  // namespace
}  // namespace velmora
