#pragma once

#include <QString>
#include <QStringList>

namespace lumiclip {

// Which part of a list one run captures: the addresses are spread over `count` parts by a stable hash,
// so that the same address lands in the same part on every machine, in every run and every version,
// and the parts together hold every address exactly once.
struct Shard {
    // 1 to count.
    int index = 1;
    int count = 1;
    // The index comes from the environment (--shard-index-from-env): JOB_COMPLETION_INDEX, 0 to count-1.
    bool indexFromEnv = false;
};

// Where a batch runs, beyond this machine.
struct ScaleOptions {
    // --browser endpoints, as given; empty: the local browser.
    QStringList browsers;
    int retries = 1;
    Shard shard;
    // --shard or --shard-count was given.
    bool shardGiven = false;
};

inline constexpr int kMaxShards = 1000000;
inline constexpr int kMaxRetries = 10;

// Applies one of --browser, --retries, --shard, --shard-count and --shard-index-from-env; false with *error
// naming the flag and the value.
bool ParseScaleOption(const QString& flag, const QString& value, ScaleOptions* options, QString* error);
// What cannot be known flag by flag (the flags' combination); false with *error.
bool CheckScaleOptions(const ScaleOptions& options, QString* error);
// Takes the shard's index from the environment's JOB_COMPLETION_INDEX when asked to; false with *error
// when it is missing or out of range.
bool ResolveShardIndex(Shard* shard, const QString& environmentIndex, bool environmentIndexSet,
                       QString* error);

// The part (1 to count) an address belongs to.
int ShardOfAddress(const QString& address, int count);

}  // namespace lumiclip
