#include "infra/vorn/AppMsgDeliver.h"

#include <cstring>
#include <exception>
#include <random>

#include "infra/vorn/DeliverNotices.h"
#include "infra/vorn/GroupSession.h"
#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/VornPool.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

namespace {

// The deliver thread's wait when nothing wakes it.
constexpr int kDeliverWaitMs = 500000;
// ... in a pair, where the switch to single-device mode wakes nobody.
constexpr int kPairDeliverWaitMs = 50;
// The most positions a notice pair can name.
constexpr std::size_t kMaxPairPositions = 64;

thread_local const CVornSystem* t_deliveringFor = nullptr;

}  // namespace

CAppMsgDeliver::CAppMsgDeliver(CVornSystem& system, CGroupsManager& groups) : m_sys(system), m_groups(groups) {}

CAppMsgDeliver::~CAppMsgDeliver() { Stop(); }

bool CAppMsgDeliver::Init(VornDeliverCallback callback, int run_mode) {
    (void)run_mode;
    m_callback = callback;
    m_positions.clear();
    m_inferior = -1;
    CGroupSession* own = m_groups.OwnGroup();
    for (std::size_t gi = 0; gi < m_groups.GroupCount(); ++gi) {
        CGroupSession& g = m_groups.Group(gi);
        if (g.HotBackup()) {
            if (&g == own && g.SvrType() != '1') m_inferior = static_cast<int>(m_positions.size());
            m_positions.push_back(Position{&g.GroupWindow()->List(), &g, -1, g.SvrType() == '1'});
            continue;
        }
        for (std::size_t m = 0; m < g.MemberCount(); ++m)
            m_positions.push_back(Position{&g.Member(m).recv->List(), &g, static_cast<int>(m), g.SvrType() == '1'});
    }
    m_sys.Note("System Inferior-List-Index: %d.", m_inferior);
    if (!m_positions.empty()) {
        std::random_device rd;
        m_next = rd() % m_positions.size();
    }
    if (!InitPair()) return false;
    return m_storage.SetUp(run_mode, callback);
}

bool CAppMsgDeliver::Start(int core) {
    m_stop.store(false, std::memory_order_release);
    return m_thread.Start("vorn_deliver", core, [this](bool pinned) { Loop(pinned); });
}

void CAppMsgDeliver::Go() {
    m_go.store(true, std::memory_order_release);
    m_event.Set();
}

void CAppMsgDeliver::Stop(bool deliver_pending) {
    // the control thread first: the last pass then finishes every notice it built
    if (m_notices) m_notices->Stop();
    m_drain.store(deliver_pending, std::memory_order_release);
    m_stop.store(true, std::memory_order_release);
    m_event.Set();
    m_thread.Join();
    m_storage.Stop();
}

int64_t CAppMsgDeliver::Appended(int position) const {
    return m_positions[static_cast<std::size_t>(position)].list->Appended();
}

int64_t CAppMsgDeliver::Pending(int position) const {
    const CDeliveryList& l = *m_positions[static_cast<std::size_t>(position)].list;
    return l.Appended() - l.Taken();
}

int CAppMsgDeliver::DeliverOne(int position, int n) {
    CDeliveryList& list = *m_positions[static_cast<std::size_t>(position)].list;
    int done = 0;
    for (; done < n; ++done) {
        VornBuffer* b = list.Front();
        if (!b) break;
        int16_t msg_id = 0;
        int32_t tag = 0;
        if (b->length >= kAppHeaderSize && ReadAppHeader(b->data, b->length, msg_id, tag)) {
            // from here on the message id and the tag are in host order, like the header
            std::memcpy(b->data + kHeaderSize, &msg_id, sizeof msg_id);
            std::memcpy(b->data + kHeaderSize + sizeof msg_id, &tag, sizeof tag);
            b->StampDelivery(m_sys.ClockHHMMSS(), ToTimespec(MonotonicNs()));
            m_storage.Store(msg_id, b->data, b->length);
            if (m_callback) {
                try {
                    m_callback(static_cast<uint32_t>(tag), static_cast<uint32_t>(static_cast<int32_t>(msg_id)),
                               b->data + kAppHeaderSize, b->length - static_cast<uint32_t>(kAppHeaderSize), 0,
                               b->Source());
                } catch (...) {
                    int64_t held = 0;
                    if (m_throwLog.Allow(MonotonicNs(), &held))
                        m_sys.Note("Deliver Message Fail: MsgId < %#x > Callback Threw ( %lld Not Logged ).",
                                   static_cast<int>(static_cast<uint16_t>(msg_id)), static_cast<long long>(held));
                }
            }
        }
        list.PopFront();
        m_delivered.fetch_add(1, std::memory_order_relaxed);
    }
    return done;
}

std::size_t CAppMsgDeliver::RotationRound() {
    const std::size_t n = m_positions.size();
    std::size_t total = 0;
    if (n == 0) return 0;
    for (;;) {
        bool any = false;
        for (std::size_t i = 0; i < n; ++i) {
            const int p = static_cast<int>((m_next + i) % n);
            if (p == m_inferior || Pending(p) <= 0) continue;
            total += static_cast<std::size_t>(DeliverOne(p));
            any = true;
        }
        // past the last position the start goes back to 1, not 0: every pass still visits
        // every position, so none is skipped
        m_next = m_next + 1 < n ? m_next + 1 : (n > 1 ? 1 : 0);
        if (any) continue;
        if (m_inferior >= 0 && Pending(m_inferior) > 0) {
            total += static_cast<std::size_t>(DeliverOne(m_inferior));
            continue;
        }
        return total;
    }
}

bool CAppMsgDeliver::OnDeliverThreadOf(const CVornSystem* system) { return system && t_deliveringFor == system; }

void CAppMsgDeliver::Loop(bool pinned) {
    t_deliveringFor = &m_sys;
    if (pinned)
        m_sys.Note("Deliver Thread(%s) Start, Bind CPU Core Id(%d) ...", "vorn_deliver",
                   m_sys.ThreadCore(VornThread::kDeliver));
    else
        m_sys.Note("Deliver Thread(%s) Start ...", "vorn_deliver");
    while (!m_go.load(std::memory_order_acquire) && !m_stop.load(std::memory_order_acquire)) m_event.TimedWait(1);
    while (!m_stop.load(std::memory_order_acquire)) {
        Round();
        if (pinned)
            CpuRelax();
        else
            WaitEvent().TimedWait(m_notices && !Switched() ? kPairDeliverWaitMs : kDeliverWaitMs);
    }
    // the receiver has stopped: what it took is delivered before the thread ends (a pair
    // device first finishes the notices it holds)
    if (m_go.load(std::memory_order_acquire) && m_drain.load(std::memory_order_acquire)) {
        if (m_notices && !Switched()) m_notices->Pass(true);
        RotationRound();
    }
    m_sys.Note("Deliver Thread ( %s ) Stop ...", "vorn_deliver");
}

bool CAppMsgDeliver::InitPair() {
    m_notices.reset();
    m_switched.store(false, std::memory_order_release);
    m_stateCalled = false;
    CGroupSession* own = m_groups.OwnGroup();
    const VornIdentity& id = m_sys.Identity();
    if (!own || !own->HotBackup() || own->MemberCount() < 2 || m_sys.Hqtrs().Mode() == '2') return true;
    if (m_positions.size() > kMaxPairPositions) {
        m_sys.Note("System Device Num: %d, Over Max Num: %d.", static_cast<int>(m_positions.size()),
                   static_cast<int>(kMaxPairPositions));
        return false;
    }
    const VornPeerWindow* partner = nullptr;
    for (std::size_t i = 0; i < own->MemberCount() && !partner; ++i)
        if (own->Member(i).member_id != id.member_id) partner = &own->Member(i);
    if (!partner) return true;
    const bool master = m_sys.DeviceIdentity() == 1;
    std::unique_ptr<CDeliverNotices> notices(new CDeliverNotices(m_sys, *this));
    const int32_t w = m_sys.Hqtrs().Digest().window_size;
    if (!notices->Init(master ? CDeliverNotices::Role::kMaster : CDeliverNotices::Role::kStandby, WindowSlots(w),
                       partner->addr, partner->member_id)) {
        if (master)
            m_sys.Note("Creat Deliver-Notice Recv Window Fail.");
        else
            m_sys.Note("Creat Deliver-Notice Send Window Fail.");
        return false;
    }
    if (!notices->Start(m_sys.ThreadCore(VornThread::kControl))) {
        m_sys.Note("Creat Deliver Msg Socket Fail.");
        m_sys.Note("Control Thread ( %s ) Stop ...", "vorn_control");
        return false;
    }
    m_notices = std::move(notices);
    return true;
}

CEvent& CAppMsgDeliver::WaitEvent() {
    // an active standby delivers on acknowledgements; its control thread waits on m_event
    if (m_notices && !Switched() && m_notices->GetRole() == CDeliverNotices::Role::kStandby &&
        !m_notices->ControlEnded())
        return m_notices->AckEvent();
    return m_event;
}

std::size_t CAppMsgDeliver::Round() {
    if (!m_notices) return RotationRound();
    std::size_t n = 0;
    if (!Switched()) {
        const bool single = m_sys.Hqtrs().Mode() == '2' || m_notices->Desynced();
        bool done = false;
        n = m_notices->Pass(single, &done);
        if (!done) return n;
        m_switched.store(true, std::memory_order_release);
    }
    // once, when the switch made this device master (after a restart of the partner the
    // switch may come after rotation began)
    if (!m_stateCalled && m_sys.Hqtrs().Mode() == '2' && m_sys.DeviceIdentity() == 1) {
        m_stateCalled = true;
        VornStateCallback state = m_sys.StateCallback();
        if (state) {
            m_stateCalls.fetch_add(1, std::memory_order_relaxed);
            try {
                state(1, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(m_sys.UserData())));
            } catch (...) {
                m_sys.Note("State Callback Threw.");
            }
        }
    }
    return n + RotationRound();
}

bool CAppMsgDeliver::PairDesynced() const { return m_notices && m_notices->Desynced(); }

int64_t CAppMsgDeliver::PairPartnerSeenNs() const { return m_notices ? m_notices->PartnerSeenNs() : 0; }

void CAppMsgDeliver::HeardFrom(int16_t group_id, int16_t member_id) {
    if (m_notices) m_notices->Heard(group_id, member_id);
}

void CAppMsgDeliver::PairPartnerLeft() {
    if (m_notices) m_notices->PartnerLeft();
}

bool CAppMsgDeliver::AnyAppended() const {
    for (const Position& p : m_positions)
        if (p.list->Appended() > 0) return true;
    return false;
}

bool CAppMsgDeliver::OnNotice(VornBuffer* buffer) {
    if (m_notices && buffer) return m_notices->OnReceived(buffer->data, buffer->length);
    m_noticesDropped.fetch_add(1, std::memory_order_relaxed);
    int64_t held = 0;
    if (m_noticeLog.Allow(MonotonicNs(), &held))
        m_sys.Note("Deliver-Notice Dropped: No Hot-Backup Delivery ( %lld Not Logged ).", static_cast<long long>(held));
    return false;
}

void CAppMsgDeliver::OnHandlerNotice(const uint8_t* data, std::size_t length, int64_t now_ns) {
    (void)now_ns;
    if (m_notices) {
        m_notices->OnHandler(data, length);
        return;
    }
    m_noticesDropped.fetch_add(1, std::memory_order_relaxed);
}

void CAppMsgDeliver::HandlerTick(int64_t now_ns) {
    if (m_notices) m_notices->HandlerTick(now_ns);
}

}  // namespace VORN
}  // namespace OXA
