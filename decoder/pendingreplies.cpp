#include "pendingreplies.h"

#include "frames.h"

#include <algorithm>

int PendingReplies::replyKey(const QByteArray &request)
{
    if (request.size() == Kelvra::FrameSize && quint8(request.at(0)) == Kelvra::Head)
        return NativeKey + quint8(request.at(1)); // the device answers with the command byte as reply id
    if (request.size() == Modbus::ReadRequestSize && quint8(request.at(1)) == Modbus::ReadHoldingRegisters) {
        const int count = quint8(request.at(4)) * 256 + quint8(request.at(5));
        return count <= Modbus::MaxReadRegisters ? 2 * count : -1;
    }
    return -1;
}

bool PendingReplies::add(Query query, const QByteArray &request, int unitIndex, quint64 *ticket)
{
    Outstanding entry;
    entry.query = query;
    entry.expects = replyKey(request);
    entry.request = request;
    entry.unitIndex = unitIndex;
    const bool blocked = std::any_of(queries.cbegin(), queries.cend(),
                                     [&entry](const Outstanding &q) { return q.expects == entry.expects; });
    const bool alreadyWaiting = std::any_of(queries.cbegin(), queries.cend(), [&entry](const Outstanding &q) {
        return !q.sent() && q.query == entry.query && q.request == entry.request;
    });
    *ticket = 0;
    if (alreadyWaiting)
        return false;
    entry.ticket = ++lastTicket;
    *ticket = entry.ticket;
    queries.append(entry);
    return !blocked;
}

void PendingReplies::markSent(quint64 ticket, qint64 nowMs)
{
    for (Outstanding &q : queries) {
        if (q.ticket == ticket) {
            q.sentAtMs = nowMs;
            ++q.attempts;
        }
    }
}

void PendingReplies::markWaiting(quint64 ticket, qint64 nowMs)
{
    for (Outstanding &q : queries) {
        if (q.ticket == ticket) {
            q.sentAtMs = -1;
            q.waitingSinceMs = nowMs;
        }
    }
}

const PendingReplies::Outstanding *PendingReplies::probe() const
{
    const auto found = std::find_if(queries.cbegin(), queries.cend(),
                                    [](const Outstanding &q) { return q.query == Query::pendingBaudrate; });
    return found == queries.cend() ? nullptr : &*found;
}

void PendingReplies::forget(quint64 ticket)
{
    queries.erase(std::remove_if(queries.begin(), queries.end(), [ticket](const Outstanding &q) { return q.ticket == ticket; }),
                  queries.end());
}

QList<quint64> PendingReplies::releasable() const
{
    QList<quint64> released;
    for (int i = 0; i < queries.size(); ++i) {
        if (queries.at(i).sent())
            continue;
        const bool blocked = std::any_of(queries.cbegin(), queries.cbegin() + i,
                                         [&](const Outstanding &q) { return q.expects == queries.at(i).expects; });
        if (!blocked)
            released.append(queries.at(i).ticket);
    }
    return released;
}

const PendingReplies::Outstanding *PendingReplies::find(quint64 ticket) const
{
    const auto found =
        std::find_if(queries.cbegin(), queries.cend(), [ticket](const Outstanding &q) { return q.ticket == ticket; });
    return found == queries.cend() ? nullptr : &*found;
}

const PendingReplies::Outstanding *PendingReplies::oldestFor(int key) const
{
    const auto found = std::find_if(queries.cbegin(), queries.cend(),
                                    [key](const Outstanding &q) { return q.sent() && q.expects == key; });
    return found == queries.cend() ? nullptr : &*found;
}

std::optional<PendingReplies::Outstanding> PendingReplies::take(int key)
{
    for (int i = 0; i < queries.size(); ++i) {
        if (queries.at(i).sent() && queries.at(i).expects == key)
            return queries.takeAt(i);
    }
    return std::nullopt;
}

QList<PendingReplies::Outstanding> PendingReplies::overdue(qint64 nowMs, qint64 timeoutMs) const
{
    QList<Outstanding> late;
    for (const Outstanding &q : queries) {
        if (q.sent() && q.query != Query::pendingBaudrate && nowMs - q.sentAtMs >= timeoutMs)
            late.append(q);
    }
    return late;
}

void PendingReplies::removeProbe()
{
    queries.erase(std::remove_if(queries.begin(), queries.end(),
                                 [](const Outstanding &q) { return q.query == Query::pendingBaudrate; }),
                  queries.end());
}
