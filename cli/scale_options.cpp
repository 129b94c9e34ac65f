#include "cli/scale_options.h"

#include "cli/cli_options.h"

#include <QCryptographicHash>
#include <QUrl>
#include <QtEndian>

namespace lumiclip {

bool ParseScaleOption(const QString& flag, const QString& value, ScaleOptions* options, QString* error) {
    if (flag == QStringLiteral("--browser")) {
        const QUrl endpoint(value, QUrl::StrictMode);
        const QString scheme = endpoint.scheme();
        if (!endpoint.isValid() || endpoint.host().isEmpty() ||
            (scheme != QStringLiteral("ws") && scheme != QStringLiteral("wss") &&
             scheme != QStringLiteral("http") && scheme != QStringLiteral("https"))) {
            *error = QStringLiteral("%1: \"%2\" is not a ws://, wss://, http:// or https:// address")
                         .arg(flag, PrintableText(value));
            return false;
        }
        options->browsers.append(value);
        return true;
    }
    if (flag == QStringLiteral("--retries")) {
        if (!ParseNumber(value, 0, kMaxRetries, &options->retries)) {
            *error = QStringLiteral("%1: \"%2\" is not a number from 0 to %3")
                         .arg(flag, PrintableText(value), QString::number(kMaxRetries));
            return false;
        }
        return true;
    }
    if (flag == QStringLiteral("--shard-index-from-env")) {
        options->shard.indexFromEnv = true;
        return true;
    }
    if (options->shardGiven) {
        *error = QStringLiteral(
                     "%1: the shard is given twice (--shard K/N, or --shard-count N with "
                     "--shard-index-from-env)")
                     .arg(flag);
        return false;
    }
    options->shardGiven = true;
    if (flag == QStringLiteral("--shard-count")) {
        if (!ParseNumber(value, 1, kMaxShards, &options->shard.count)) {
            *error = QStringLiteral("%1: \"%2\" is not a number from 1 to %3")
                         .arg(flag, PrintableText(value), QString::number(kMaxShards));
            return false;
        }
        options->shard.index = 0;  // from the environment
        return true;
    }
    const qsizetype slash = value.indexOf(QLatin1Char('/'));
    int index = 0;
    int count = 0;
    if (slash < 0 || !ParseNumber(value.mid(slash + 1), 1, kMaxShards, &count) ||
        !ParseNumber(value.left(slash), 1, count, &index)) {
        *error = QStringLiteral("%1: \"%2\" is not K/N with 1 <= K <= N <= %3")
                     .arg(flag, PrintableText(value), QString::number(kMaxShards));
        return false;
    }
    options->shard.index = index;
    options->shard.count = count;
    return true;
}

bool CheckScaleOptions(const ScaleOptions& options, QString* error) {
    const bool countOnly = options.shardGiven && options.shard.index == 0;
    if (options.shard.indexFromEnv && !countOnly) {
        *error = QStringLiteral("--shard-index-from-env needs --shard-count N (and no --shard K/N)");
        return false;
    }
    if (countOnly && !options.shard.indexFromEnv) {
        *error = QStringLiteral("--shard-count needs --shard-index-from-env (or use --shard K/N)");
        return false;
    }
    return true;
}

bool ResolveShardIndex(Shard* shard, const QString& environmentIndex, bool environmentIndexSet,
                       QString* error) {
    if (!shard->indexFromEnv) {
        return true;
    }
    int index = 0;
    if (!environmentIndexSet) {
        *error = QStringLiteral("--shard-index-from-env: JOB_COMPLETION_INDEX is not set");
        return false;
    }
    if (!ParseNumber(environmentIndex.trimmed(), 0, shard->count - 1, &index)) {
        *error =
            QStringLiteral("--shard-index-from-env: JOB_COMPLETION_INDEX \"%1\" is not a number from 0 to %2")
                .arg(PrintableText(environmentIndex), QString::number(shard->count - 1));
        return false;
    }
    shard->index = index + 1;
    return true;
}

int ShardOfAddress(const QString& address, int count) {
    // The first eight bytes of the address's SHA-1: the same everywhere, and evenly spread.
    const QByteArray digest = QCryptographicHash::hash(address.toUtf8(), QCryptographicHash::Sha1);
    const quint64 value = qFromBigEndian<quint64>(digest.constData());
    return static_cast<int>(value % static_cast<quint64>(count)) + 1;
}

}  // namespace lumiclip
