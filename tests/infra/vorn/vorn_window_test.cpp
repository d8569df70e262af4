#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "infra/vorn/VornPool.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWindow.h"
#include "infra/vorn/VornWire.h"

using namespace OXA::VORN;

namespace {

// A received app message with sequence seq in a pool buffer.
VornBuffer* Message(CBufferPool& pool, int32_t seq) {
    VornBuffer* b = pool.Get();
    VornHeader h;
    h.type = kPktApp;
    h.sequence = seq;
    const std::string body = "m" + std::to_string(seq);
    b->length = static_cast<uint32_t>(BuildApp(b->data, b->capacity, h, 0x100, seq, body.data(), body.size()));
    return b;
}

// Sequences in a delivery list, taking them.
std::vector<int32_t> Take(CDeliveryList& list) {
    std::vector<int32_t> out;
    while (VornBuffer* b = list.Front()) {
        VornHeader h;
        ReadHeader(b->data, b->length, h);
        out.push_back(h.sequence);
        list.PopFront();
    }
    return out;
}

// Offers each arrival to the window, expecting its outcome; what the window did not keep
// goes back to the pool.
void Arrive(CRecvWindow& win, CBufferPool& pool, const std::vector<int32_t>& arrivals,
            const std::vector<CRecvWindow::Outcome>& outcomes) {
    ASSERT_EQ(arrivals.size(), outcomes.size());
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        VornBuffer* b = Message(pool, arrivals[i]);
        const CRecvWindow::Outcome got = win.Accept(b, arrivals[i]);
        EXPECT_EQ(static_cast<int>(outcomes[i]), static_cast<int>(got)) << "arrival " << i;
        if (got == CRecvWindow::Outcome::kDuplicate || got == CRecvWindow::Outcome::kBeyond) VornBuffer::Release(b);
    }
}

}  // namespace

TEST(WindowSizes, SlotsAndWatermark) {
    struct Case {
        int32_t w;
        uint32_t slots;
    } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 2}, {1000, 512}, {2048, 2048}, {3000, 2048}, {4096, 4096}, {65536, 65536}};
    for (const Case& c : cases) EXPECT_EQ(c.slots, WindowSlots(c.w)) << c.w;
    EXPECT_EQ(0, AckWatermark(2048, 500));
    EXPECT_EQ(100, AckWatermark(4096, 500));
    EXPECT_EQ(30, AckWatermark(2049, 30));
    EXPECT_EQ(0, AckWatermark(4096, -5));
}

TEST(RecvWindow, ArrivalCases) {
    using O = CRecvWindow::Outcome;
    struct Case {
        const char* name;
        uint32_t slots;
        std::vector<int32_t> arrivals;
        std::vector<O> outcomes;
        int32_t next;
        int32_t gap_end;  // checked only when a gap is open (gap_end >= next)
        std::vector<int32_t> delivered;
    } cases[] = {
        {"in order", 8, {0, 1, 2}, {O::kDelivered, O::kDelivered, O::kDelivered}, 3, -1, {0, 1, 2}},
        {"duplicate of a delivered one", 8, {0, 1, 0}, {O::kDelivered, O::kDelivered, O::kDuplicate}, 2, -1, {0, 1}},
        {"duplicate of a buffered one", 8, {0, 3, 3}, {O::kDelivered, O::kBuffered, O::kDuplicate}, 1, 2, {0}},
        {"gap buffered, then released in order", 8, {0, 2, 3, 1},
         {O::kDelivered, O::kBuffered, O::kBuffered, O::kDelivered}, 4, -1, {0, 1, 2, 3}},
        {"last slot of the window is taken", 8, {0, 8}, {O::kDelivered, O::kBuffered}, 1, 7, {0}},
        {"beyond the window", 8, {0, 9}, {O::kDelivered, O::kBeyond}, 1, -1, {0}},
        {"one-slot window takes only the next", 1, {0, 2, 1}, {O::kDelivered, O::kBeyond, O::kDelivered}, 2, -1, {0, 1}},
        {"gap end recomputed as the gap shrinks", 16, {0, 1, 2, 3, 4, 5, 6, 10, 8},
         {O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered,
          O::kBuffered, O::kBuffered},
         7, 7, {0, 1, 2, 3, 4, 5, 6}},
        {"gap end moves on past a release", 16, {0, 1, 2, 3, 4, 5, 6, 10, 8, 7},
         {O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered,
          O::kBuffered, O::kBuffered, O::kDelivered},
         9, 9, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
    };
    CVornSystem sys;
    CBufferPool pool(sys, "app_msg_pool", kAppBufferSize, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            CRecvWindow win(c.slots);
            Arrive(win, pool, c.arrivals, c.outcomes);
            EXPECT_EQ(c.next, win.NextExpected());
            if (c.gap_end >= c.next)
                EXPECT_EQ(c.gap_end, win.GapEnd());
            else
                EXPECT_LT(win.GapEnd(), win.NextExpected()) << "no gap";
            EXPECT_EQ(c.delivered, Take(win.List()));
        }
        EXPECT_EQ(pool.Total(), pool.Available()) << "every buffer back in the pool";
    }
}

TEST(RecvWindow, GapEndTracksTheFirstBufferedSlot) {
    // 7..9 missing, 10 received: the gap is 7..9; 8 arriving shrinks it to 7..7
    CVornSystem sys;
    CBufferPool pool(sys, "app_msg_pool", kAppBufferSize, 2);
    CRecvWindow win(16);
    for (int32_t s = 0; s < 7; ++s) ASSERT_EQ(CRecvWindow::Outcome::kDelivered, win.Accept(Message(pool, s), s));
    win.Accept(Message(pool, 10), 10);
    EXPECT_EQ(7, win.NextExpected());
    EXPECT_EQ(9, win.GapEnd());
    win.Accept(Message(pool, 8), 8);
    EXPECT_EQ(7, win.GapEnd());
    win.Accept(Message(pool, 7), 7);
    EXPECT_EQ(9, win.NextExpected());
    EXPECT_EQ(9, win.GapEnd());
    win.Accept(Message(pool, 9), 9);
    EXPECT_EQ(11, win.NextExpected());
    EXPECT_LT(win.GapEnd(), win.NextExpected());
}

TEST(RecvWindow, ResetReturnsBuffersAndOnlyRaisesNextExpected) {
    CVornSystem sys;
    CBufferPool pool(sys, "app_msg_pool", kAppBufferSize, 8);
    CRecvWindow win(8);
    win.Accept(Message(pool, 0), 0);
    win.Accept(Message(pool, 3), 3);
    win.Accept(Message(pool, 5), 5);
    EXPECT_EQ(2u, win.Buffered());
    const std::size_t before = pool.Available();

    win.Reset();  // a send-position request: slots emptied, next expected kept
    EXPECT_EQ(0u, win.Buffered());
    EXPECT_EQ(before + 2, pool.Available());
    EXPECT_EQ(1, win.NextExpected());
    EXPECT_LT(win.GapEnd(), win.NextExpected());

    win.Reset(100);  // a receive-position reply of 99
    EXPECT_EQ(100, win.NextExpected());
    win.Reset(50);  // never moves back
    EXPECT_EQ(100, win.NextExpected());
    EXPECT_EQ(CRecvWindow::Outcome::kDuplicate, win.Accept(Message(pool, 99), 99));
}

// Sequences wrap on the wire (int32 past its top, and -1 to 0): the window keeps taking them
// in order, holds gaps across the wrap and drops duplicates of either side of it.
TEST(RecvWindow, SequencesWrapAcrossTheTopOfTheRange) {
    using O = CRecvWindow::Outcome;
    struct Case {
        const char* name;
        int64_t start;                  // the position reply the window starts from
        std::vector<int32_t> arrivals;  // wire sequences
        std::vector<O> outcomes;
        std::vector<int32_t> delivered;
        int32_t next;  // wire value of next expected
        int32_t gap_end;  // checked only when not equal to next - 1
    } cases[] = {
        {"in order past INT32_MAX", INT32_MAX - 1, {INT32_MAX - 1, INT32_MAX, INT32_MIN, INT32_MIN + 1},
         {O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered},
         {INT32_MAX - 1, INT32_MAX, INT32_MIN, INT32_MIN + 1}, INT32_MIN + 2, INT32_MIN + 1},
        {"in order past -1", -2, {-2, -1, 0, 1}, {O::kDelivered, O::kDelivered, O::kDelivered, O::kDelivered},
         {-2, -1, 0, 1}, 2, 1},
        {"gap across the wrap held, then released", INT32_MAX - 1, {INT32_MAX - 1, INT32_MIN + 1, INT32_MIN, INT32_MAX},
         {O::kDelivered, O::kBuffered, O::kBuffered, O::kDelivered},
         {INT32_MAX - 1, INT32_MAX, INT32_MIN, INT32_MIN + 1}, INT32_MIN + 2, INT32_MIN + 1},
        {"gap end on the far side of the wrap", -2, {-2, 2}, {O::kDelivered, O::kBuffered}, {-2}, -1, 1},
        {"duplicates from before and after the wrap", INT32_MAX,
         {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MIN + 2, INT32_MIN + 2},
         {O::kDelivered, O::kDelivered, O::kDuplicate, O::kDuplicate, O::kBuffered, O::kDuplicate},
         {INT32_MAX, INT32_MIN}, INT32_MIN + 1, INT32_MIN + 1},
        {"beyond the window across the wrap", INT32_MAX, {INT32_MAX, INT32_MIN + 8}, {O::kDelivered, O::kBeyond},
         {INT32_MAX}, INT32_MIN, INT32_MAX},
        {"a copy from long before the wrap is a duplicate", 1, {1, INT32_MIN + 2}, {O::kDelivered, O::kDuplicate}, {1},
         2, 1},
    };
    CVornSystem sys;
    CBufferPool pool(sys, "app_msg_pool", kAppBufferSize, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            CRecvWindow win(8);
            win.Reset(c.start);
            Arrive(win, pool, c.arrivals, c.outcomes);
            EXPECT_EQ(c.delivered, Take(win.List()));
            EXPECT_EQ(c.next, WireSeq(win.NextExpected()));
            if (c.gap_end != WireSeq(win.NextExpected() - 1)) {
                EXPECT_GE(win.GapEnd(), win.NextExpected()) << "a gap is open";
                EXPECT_EQ(c.gap_end, WireSeq(win.GapEnd()));
            } else {
                EXPECT_LT(win.GapEnd(), win.NextExpected()) << "no gap";
            }
        }
        EXPECT_EQ(pool.Total(), pool.Available()) << "every buffer back in the pool";
    }
}

// A position reply names where the peer's stream stands: a window that has taken nothing
// takes it wherever it lies, one that has taken messages only moves forward, across the
// wrap too.
TEST(RecvWindow, PositionRepliesAcrossTheWrap) {
    CRecvWindow fresh(8);
    fresh.Reset(static_cast<int64_t>(INT32_MIN) + 6);  // the peer sent 2^31 + 5 messages
    EXPECT_EQ(INT32_MIN + 6, WireSeq(fresh.NextExpected()));
    fresh.Reset(INT32_MAX);  // behind it now: never moves back
    EXPECT_EQ(INT32_MIN + 6, WireSeq(fresh.NextExpected()));
    fresh.Reset(static_cast<int64_t>(INT32_MIN) + 10);
    EXPECT_EQ(INT32_MIN + 10, WireSeq(fresh.NextExpected()));
    fresh.Reset(0);  // 2^31 - 10 ahead
    EXPECT_EQ(0, WireSeq(fresh.NextExpected()));
}

TEST(SendWindow, SequencesWrapOnTheWireAndAcknowledgementsFollow) {
    CSendWindow s(4);
    s.Reposition(-3);  // the peer took everything up to 2^32 - 3
    std::vector<int32_t> sent;
    for (int i = 0; i < 3; ++i) {
        VornHeader h;
        h.type = kPktApp;
        h.sequence = WireSeq(s.Next());
        ASSERT_TRUE(BuildApp(s.NextSlot(), kAppBufferSize, h, 1, 0, "x", 1));
        sent.push_back(h.sequence);
        s.Advance();
    }
    EXPECT_EQ((std::vector<int32_t>{-2, -1, 0}), sent);
    EXPECT_TRUE(s.Full());
    s.RaiseAcked(-1);
    s.RaiseAcked(-2);  // never lowers
    EXPECT_EQ(-1, WireSeq(s.Acked()));
    s.RefreshBase();
    EXPECT_FALSE(s.Full());
    const uint8_t* data = nullptr;
    std::size_t len = 0;
    EXPECT_EQ(CSendWindow::Stored::kOk, s.At(s.Next() - 1, data, len)) << "the message with wire sequence 0";
    EXPECT_EQ(CSendWindow::Stored::kOther, s.At(s.Next() + 3, data, len));
    s.RaiseAcked(0);
    s.RefreshBase();
    EXPECT_EQ(s.Next(), s.Base()) << "everything sent is acknowledged";
    EXPECT_EQ(1, WireSeq(s.Next()));
}

TEST(SendWindow, FullAtTheMaskAndRefreshedFromAcknowledgements) {
    CSendWindow s(4);
    EXPECT_FALSE(s.Full());
    for (int i = 0; i < 3; ++i) {
        uint8_t* slot = s.NextSlot();
        VornHeader h;
        h.type = kPktApp;
        h.sequence = s.Next();
        ASSERT_TRUE(BuildApp(slot, kAppBufferSize, h, 1, 0, "x", 1));
        s.Advance();
    }
    EXPECT_TRUE(s.Full()) << "three outstanding in four slots: one stays empty";
    s.RefreshBase();
    EXPECT_TRUE(s.Full()) << "nothing acknowledged";
    s.RaiseAcked(0);
    s.RaiseAcked(-1);  // never lowers
    EXPECT_EQ(0, s.Acked());
    s.RefreshBase();
    EXPECT_EQ(1, s.Base());
    EXPECT_FALSE(s.Full());

    const uint8_t* data = nullptr;
    std::size_t len = 0;
    EXPECT_EQ(CSendWindow::Stored::kOk, s.At(2, data, len));
    EXPECT_EQ(kAppHeaderSize + 1, len);
    EXPECT_EQ(CSendWindow::Stored::kMissing, s.At(3, data, len));
    EXPECT_EQ(CSendWindow::Stored::kOther, s.At(6, data, len)) << "slot 2 holds 2, not 6";

    // an acknowledgement beyond what was sent (the pair's other device ran ahead) moves next
    s.RaiseAcked(10);
    s.Advance();
    EXPECT_TRUE(s.Full());
    s.RefreshBase();
    EXPECT_EQ(11, s.Base());
    EXPECT_EQ(11, s.Next());

    CSendWindow one(1);
    EXPECT_TRUE(one.Full()) << "a one-slot window never has room";
}

TEST(BufferPool, SizesTopUpAndRelease) {
    CVornSystem sys;
    CBufferPool app(sys, "app_msg_pool", kAppBufferSize, 2);
    CBufferPool control(sys, "control_msg_pool", kControlBufferSize, 1);
    EXPECT_EQ(1992u, app.DataCapacity());
    EXPECT_EQ(72u, control.DataCapacity());
    VornBuffer* a = app.Get();
    VornBuffer* b = app.Get();
    VornBuffer* c = app.Get();  // dry: topped up by one
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(3u, app.Total());
    EXPECT_EQ(0u, app.Available());
    EXPECT_EQ(&app, c->pool);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(c) + kBufferNodeSize, c->data);
    for (VornBuffer* x : {a, b, c}) VornBuffer::Release(x);
    EXPECT_EQ(3u, app.Available());
}

TEST(DeliveryList, AnchorGoesBackWhenTheNextIsTaken) {
    CVornSystem sys;
    CBufferPool pool(sys, "app_msg_pool", kAppBufferSize, 3);
    {
        CDeliveryList list;
        EXPECT_EQ(nullptr, list.Front());
        for (int32_t s = 0; s < 3; ++s) list.Append(Message(pool, s));
        EXPECT_EQ(3, list.Appended());
        EXPECT_EQ(0u, pool.Available());
        VornBuffer* first = list.Front();
        list.PopFront();
        EXPECT_EQ(0u, pool.Available()) << "the delivered one anchors the list";
        EXPECT_NE(first, list.Front());
        list.PopFront();
        EXPECT_EQ(1u, pool.Available());
        EXPECT_EQ(2, list.Taken());
    }
    EXPECT_EQ(3u, pool.Available()) << "the list gives back what it still held";
}
