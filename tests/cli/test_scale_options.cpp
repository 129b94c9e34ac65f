// --browser, --retries and the shards, as parsed, and the shard each address falls in.
#include "cli/cli_options.h"
#include "cli/scale_options.h"

#include <gtest/gtest.h>

using namespace lumiclip;

namespace {

ParseStatus parse(const QStringList& args, CliOptions* options, QString* error) {
    return ParseCliArguments(args + QStringList{QStringLiteral("http://a/")}, options, error);
}

}  // namespace

TEST(ScaleOptions, BrowsersRetriesAndShardsAreParsedAndTheBadOnesNamed) {
    CliOptions o;
    QString error;
    ASSERT_EQ(parse({QStringLiteral("--browser"), QStringLiteral("ws://10.0.0.5:9222/devtools/browser/abc"),
                     QStringLiteral("--browser=http://shots.internal:9222"), QStringLiteral("--retries"),
                     QStringLiteral("3"), QStringLiteral("--shard"), QStringLiteral("2/5")},
                    &o, &error),
              ParseStatus::Ok)
        << error.toStdString();
    EXPECT_EQ(o.scale.browsers, (QStringList{QStringLiteral("ws://10.0.0.5:9222/devtools/browser/abc"),
                                             QStringLiteral("http://shots.internal:9222")}));
    EXPECT_EQ(o.scale.retries, 3);
    EXPECT_EQ(o.scale.shard.index, 2);
    EXPECT_EQ(o.scale.shard.count, 5);

    CliOptions defaults;
    ASSERT_EQ(parse({}, &defaults, &error), ParseStatus::Ok);
    EXPECT_TRUE(defaults.scale.browsers.isEmpty());
    EXPECT_EQ(defaults.scale.retries, 1);
    EXPECT_EQ(defaults.scale.shard.count, 1);

    const struct {
        QStringList args;
        const char* mentions;
    } bad[] = {
        {{QStringLiteral("--browser"), QStringLiteral("localhost:9222")}, "is not a ws://"},
        {{QStringLiteral("--browser"), QStringLiteral("ftp://h:1/")}, "ftp://h:1/"},
        {{QStringLiteral("--browser"), QStringLiteral("ws://")}, "is not a ws://"},
        {{QStringLiteral("--retries"), QStringLiteral("11")}, "from 0 to 10"},
        {{QStringLiteral("--retries"), QStringLiteral("-1")}, "--retries"},
        {{QStringLiteral("--shard"), QStringLiteral("0/3")}, "1 <= K <= N"},
        {{QStringLiteral("--shard"), QStringLiteral("4/3")}, "4/3"},
        {{QStringLiteral("--shard"), QStringLiteral("1/0")}, "1/0"},
        {{QStringLiteral("--shard"), QStringLiteral("3")}, "K/N"},
        {{QStringLiteral("--shard"), QStringLiteral("a/b")}, "a/b"},
        {{QStringLiteral("--shard"), QStringLiteral("1/2"), QStringLiteral("--shard"), QStringLiteral("2/2")},
         "given twice"},
        {{QStringLiteral("--shard"), QStringLiteral("1/2"), QStringLiteral("--shard-index-from-env")},
         "needs --shard-count"},
        {{QStringLiteral("--shard-index-from-env")}, "needs --shard-count"},
        {{QStringLiteral("--shard-count"), QStringLiteral("4")}, "needs --shard-index-from-env"},
        {{QStringLiteral("--shard-count"), QStringLiteral("0"), QStringLiteral("--shard-index-from-env")},
         "--shard-count"},
    };
    for (const auto& c : bad) {
        CliOptions options;
        error.clear();
        EXPECT_EQ(parse(c.args, &options, &error), ParseStatus::UsageError)
            << c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.mentions)))
            << c.args.join(QLatin1Char(' ')).toStdString() << ": " << error.toStdString();
    }
}

TEST(ScaleOptions, TheShardIndexFromTheEnvironmentCountsFromZero) {
    Shard shard;
    shard.count = 4;
    shard.index = 0;
    shard.indexFromEnv = true;
    QString error;
    EXPECT_TRUE(ResolveShardIndex(&shard, QStringLiteral("3"), true, &error));
    EXPECT_EQ(shard.index, 4);
    for (const auto& [value, set] :
         {std::pair{QString(), false}, std::pair{QStringLiteral("4"), true},
          std::pair{QStringLiteral("-1"), true}, std::pair{QStringLiteral("two"), true}}) {
        Shard other = shard;
        error.clear();
        EXPECT_FALSE(ResolveShardIndex(&other, value, set, &error)) << value.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("JOB_COMPLETION_INDEX"))) << error.toStdString();
    }
    Shard explicitShard{2, 3, false};
    EXPECT_TRUE(ResolveShardIndex(&explicitShard, QStringLiteral("0"), true, &error));
    EXPECT_EQ(explicitShard.index, 2) << "the environment only counts when asked";
}

TEST(ScaleOptions, AnAddressAlwaysFallsInTheSameShardAndTheShardsAreEven) {
    // Fixed for good: runs on other machines and later versions must agree on where an address goes.
    // The first eight bytes of the SHA-1 of the address, big-endian, modulo N, plus one.
    EXPECT_EQ(ShardOfAddress(QStringLiteral("http://example.org/"), 7), 3);
    EXPECT_EQ(ShardOfAddress(QStringLiteral("https://example.com/a?b=c"), 1000), 979);
    EXPECT_EQ(ShardOfAddress(QStringLiteral("http://example.org/"), 1), 1);
    QList<int> counts(4, 0);
    for (int i = 0; i < 4000; ++i) {
        const int shard = ShardOfAddress(QStringLiteral("https://site-%1.example/page").arg(i), 4);
        ASSERT_GE(shard, 1);
        ASSERT_LE(shard, 4);
        ++counts[shard - 1];
    }
    for (const int count : counts) {
        EXPECT_GT(count, 900);
        EXPECT_LT(count, 1100);
    }
}
