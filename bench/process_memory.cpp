#include "bench/process_memory.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QSet>

namespace lumiclip::bench {

namespace {

struct ProcStat {
    pid_t ppid = 0;
    pid_t pgrp = 0;
};

QByteArray readProcFile(const QString& path) {
    QFile file(path);
    // /proc files report size 0: read until the end rather than by size.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Fields 4 and 5 of /proc/<pid>/stat. The command name (field 2) may hold spaces and parentheses, so
// the fields are counted from its last closing parenthesis.
bool readStat(pid_t pid, ProcStat* stat) {
    const QByteArray text = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0) {
        return false;
    }
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 3) {
        return false;
    }
    stat->ppid = fields[1].toInt();
    stat->pgrp = fields[2].toInt();
    return true;
}

// The value in kB of a "Name:   123 kB" line, 0 when the line is missing.
qint64 kbField(const QByteArray& text, const QByteArray& name) {
    const qsizetype at = text.startsWith(name) ? 0 : text.indexOf("\n" + name);
    if (at < 0) {
        return 0;
    }
    const qsizetype start = at + (at == 0 ? 0 : 1) + name.size();
    const qsizetype end = text.indexOf('\n', start);
    return text.mid(start, end < 0 ? -1 : end - start).replace("kB", "").trimmed().toLongLong();
}

}  // namespace

ProcessTreeMemory MeasureProcessTree(pid_t root) {
    ProcessTreeMemory total;
    if (root <= 0) {
        return total;
    }
    QHash<pid_t, ProcStat> all;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        ProcStat stat;
        if (isPid && readStat(pid, &stat)) {
            all.insert(pid, stat);
        }
    }
    QSet<pid_t> members;
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        if (it.value().pgrp == root) {
            members.insert(it.key());
        }
    }
    // Descendants outside the group: walk up each process's parents (bounded by the table's size).
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        pid_t up = it.value().ppid;
        for (qsizetype steps = 0; up > 1 && steps < all.size(); ++steps) {
            if (up == root) {
                members.insert(it.key());
                break;
            }
            up = all.value(up).ppid;
        }
    }
    if (all.contains(root)) {
        members.insert(root);
    }
    for (const pid_t pid : members) {
        const QByteArray status = readProcFile(QStringLiteral("/proc/%1/status").arg(pid));
        if (status.isEmpty()) {
            continue;  // ended meanwhile
        }
        ++total.processes;
        total.rssKb += kbField(status, "VmRSS:");
        total.pssKb += kbField(readProcFile(QStringLiteral("/proc/%1/smaps_rollup").arg(pid)), "Pss:");
    }
    return total;
}

}  // namespace lumiclip::bench
