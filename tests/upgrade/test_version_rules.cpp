#include "core/upgrade/version_compare.h"
#include "core/upgrade/version_value.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QRandomGenerator>

#include <chrono>

namespace lumiclip {
namespace {

TEST(VersionCompare, OrdersCharactersNotNumbers) {
    struct Row {
        const char* installed;
        const char* latest;
        bool newer;
    };
    const Row rows[] = {
        {"1.1.0", "1.2.0", true},   {"1.1.0", "1.1.0", false},   {"1.1.0", "1.10.0", true},
        {"1.9.0", "1.10.0", false}, {"1.1.0A", "1.1.0a", false}, {"1.1.0a", "1.1.0A", false},
        {"1.1", "1.1.1", true},     {"1.1.1", "1.1", false},     {"1.2.0", "1.1.0", false},
        {"1.1.0", "", false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(CompareVersionText(r.installed, r.latest) < 0, r.newer)
            << r.installed << " vs " << r.latest;
    }
}

TEST(VersionCompare, BytesAreUnsignedAndOnlyAsciiFolds) {
    EXPECT_LT(CompareVersionText("1.1", "1.1\xE9"), 0);
    EXPECT_LT(CompareVersionText("1.1z", "1.1\x80"), 0);  // 0x80 is above every ASCII byte
    EXPECT_LT(CompareVersionText("_", "A"), 0);  // "A" folds to "a" (0x61), which sorts after "_" (0x5F)
    EXPECT_EQ(CompareVersionText(QByteArrayView("1.1\0x", 5), "1.1"), 0);
}

TEST(VersionValue, FoundAfterColonBlanksOrNextLine) {
    EXPECT_EQ(FindVersionValue("Version:\"1.2.0\"", "Version:"), QByteArray("1.2.0"));
    EXPECT_EQ(FindVersionValue("Version:   \"1.2.0\"", "Version:"), QByteArray("1.2.0"));
    EXPECT_EQ(FindVersionValue("Version:\r\n\"1.2.0\"\r\n", "Version:"), QByteArray("1.2.0"));
    EXPECT_EQ(FindVersionValue("x Version: is \"1.2 beta\"", "Version:"), QByteArray("1.2 beta"));
    EXPECT_EQ(FindVersionValue("Filename: \"a.zip\"\nVersion: \"2.0\"", "Version:"), QByteArray("2.0"));
    EXPECT_EQ(FindVersionValue("Filename: \"a.zip\"\nVersion: \"2.0\"", "Filename:"), QByteArray("a.zip"));
    EXPECT_EQ(FindVersionValue("Version: \"1\" Version: \"2\"", "Version:"), QByteArray("1"));
}

TEST(VersionValue, MissingKeyOrQuoteGivesNothing) {
    EXPECT_FALSE(FindVersionValue("", "Version:"));
    EXPECT_FALSE(FindVersionValue("version: \"1.2\"", "Version:"));
    EXPECT_FALSE(FindVersionValue("Version: 1.2", "Version:"));
    EXPECT_FALSE(FindVersionValue(QByteArrayView("x\0Version: \"1\"", 15), "Version:"));
}

TEST(VersionValue, CutAt259AndEndOfContent) {
    const QByteArray v300(300, '7');
    EXPECT_EQ(FindVersionValue("Version: \"" + v300 + "\"", "Version:"), v300.left(259));
    const QByteArray v259(259, '8');
    EXPECT_EQ(FindVersionValue("Version: \"" + v259 + "\"", "Version:"), v259);
    EXPECT_EQ(FindVersionValue("Version: \"1.2", "Version:"), QByteArray("1.2"));
    EXPECT_EQ(FindVersionValue(QByteArrayView("Version: \"1.2\0zz\"", 17), "Version:"), QByteArray("1.2"));
}

// A literal model of the byte copy into a 260-byte buffer, to check the production rule against.
std::optional<QByteArray> modelValue(const QByteArray& content, const QByteArray& key) {
    qsizetype end = content.indexOf('\0');
    if (end < 0) {
        end = content.size();
    }
    qsizetype at = -1;
    for (qsizetype i = 0; i + key.size() <= end; ++i) {
        if (std::memcmp(content.constData() + i, key.constData(), static_cast<size_t>(key.size())) == 0) {
            at = i;
            break;
        }
    }
    if (at < 0) {
        return std::nullopt;
    }
    qsizetype p = at + 1;
    while (p < content.size() && content[p] != '"') {
        ++p;
    }
    if (p >= content.size()) {
        return std::nullopt;
    }
    ++p;
    char buffer[260];
    int n = 0;
    bool stopped = false;
    while (n < 260 && p < content.size()) {
        buffer[n++] = content[p++];
        if (buffer[n - 1] == '"') {
            stopped = true;
            break;
        }
    }
    if (stopped || n == 260) {
        buffer[n - 1] = '\0';
    } else {
        buffer[n] = '\0';
    }
    return QByteArray(buffer);
}

TEST(VersionValue, FuzzAgainstModel) {
    const QByteArray pieces[] = {"Version:", "Filename:", "\"",  QByteArray(1, '\0'),
                                 " ",        "\n",        "1.2", QByteArray(255, 'x'),
                                 "Versio",   "\xff"};
    QRandomGenerator rng(12345);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    int runs = 0;
    while (std::chrono::steady_clock::now() < until) {
        QByteArray content;
        const int parts = rng.bounded(12);
        for (int i = 0; i < parts; ++i) {
            if (rng.bounded(4) == 0) {
                content += char(rng.bounded(256));
            } else {
                content += pieces[rng.bounded(int(std::size(pieces)))];
            }
        }
        for (const char* key : {"Version:", "Filename:"}) {
            const auto got = FindVersionValue(content, key);
            const auto want = modelValue(content, key);
            ASSERT_EQ(got, want) << content.toHex().constData();
            if (got) {
                ASSERT_LE(got->size(), kMaxVersionValueLength);
            }
        }
        ++runs;
    }
    EXPECT_GT(runs, 1000);
}

}  // namespace
}  // namespace lumiclip
