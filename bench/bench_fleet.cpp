// The fleet: 1,000 task windows' refresh schedules in simulated time, all started in the same
// second, through 10 minutes of normal running, a 10-minute outage of the service and 10
// minutes after it. Counts the requests reaching the service in each second. The same fleet
// with the fixed 5 s timer the window had before is the reference.
#include "tasks/refreshschedule.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <queue>
#include <vector>

namespace {

const int Clients = 1000;
const qint64 Second = 1000;
const qint64 OutageStart = 600 * Second;
const qint64 OutageEnd = 1200 * Second;
const qint64 End = 1800 * Second;

struct Wake
{
    qint64 at;
    int client;
    bool operator>(const Wake &other) const { return at > other.at; }
};

// Requests per simulated second; next(failed) gives a client's wait after its request.
std::vector<int> run(const std::function<int(int client, bool failed)> &next)
{
    std::vector<int> perSecond(size_t(End / Second), 0);
    std::priority_queue<Wake, std::vector<Wake>, std::greater<Wake>> due;
    for (int client = 0; client < Clients; ++client)
        due.push({ 0, client });
    while (!due.empty() && due.top().at < End) {
        const Wake wake = due.top();
        due.pop();
        ++perSecond[size_t(wake.at / Second)];
        const bool failed = wake.at >= OutageStart && wake.at < OutageEnd;
        due.push({ wake.at + next(wake.client, failed), wake.client });
    }
    return perSecond;
}

double mean(const std::vector<int> &perSecond, qint64 from, qint64 to)
{
    double sum = 0;
    for (qint64 s = from / Second; s < to / Second; ++s)
        sum += perSecond[size_t(s)];
    return sum / double((to - from) / Second);
}

int peak(const std::vector<int> &perSecond, qint64 from, qint64 to)
{
    return *std::max_element(perSecond.begin() + from / Second, perSecond.begin() + to / Second);
}

void report(const char *name, const std::vector<int> &perSecond)
{
    const double normal = mean(perSecond, 300 * Second, OutageStart);
    const double recovered = peak(perSecond, OutageEnd, OutageEnd + 10 * Second);
    std::printf("fleet %s: normal running %.1f req/s (peak second after the first 5 min %d); "
                "outage %.1f req/s over its 10 min, %.1f req/s over its last 8 min, peak second %d; "
                "first 10 s after recovery peak %.0f req/s = %.2fx normal; last 5 min %.1f req/s\n",
        name, normal, peak(perSecond, 300 * Second, OutageStart), mean(perSecond, OutageStart, OutageEnd),
        mean(perSecond, OutageStart + 120 * Second, OutageEnd), peak(perSecond, OutageStart, OutageEnd),
        recovered, recovered / normal, mean(perSecond, End - 300 * Second, End));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    std::vector<std::unique_ptr<RefreshSchedule>> schedules;
    for (int client = 0; client < Clients; ++client) {
        schedules.emplace_back(new RefreshSchedule);
        schedules.back()->seed(quint32(client + 1));
    }
    report("schedule", run([&](int client, bool failed) {
        RefreshSchedule &schedule = *schedules[size_t(client)];
        return failed ? schedule.delayAfterFailure() : schedule.delayAfterSuccess();
    }));
    report("fixed 5 s (before)", run([](int, bool) { return RefreshSchedule::defaultIntervalMs; }));
    return 0;
}
