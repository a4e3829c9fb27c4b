// The ticket stream's spawn, move and retire rules, without a device.

#include <gtest/gtest.h>

#include "show/Random.h"
#include "show/TicketStream.h"

namespace {

TEST(TicketStream, FirstTicketsFillTheStreamFromZ70DownToZ7) {
  TTicketStream Stream(-4.0f);
  Randomize(5);
  Stream.Start(1000);
  Stream.Move(1000);
  EXPECT_EQ(Stream.ActiveCount(), 10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_FLOAT_EQ(Stream.Tickets[i].Pos.z, 70.0f - 7.0f * i);
    EXPECT_FLOAT_EQ(Stream.Tickets[i].Pos.y, -4.0f);
    EXPECT_GE(Stream.Tickets[i].Image, 1);
    EXPECT_LE(Stream.Tickets[i].Image, 11);
  }
}

TEST(TicketStream, SpawnsOnAStrict210MsGridAtMostOncePerFrame) {
  TTicketStream Stream(-2.0f);
  Stream.Start(0);
  Stream.Spawn(210);  // not strictly more than 210 ms
  EXPECT_EQ(Stream.ActiveCount(), 10);
  Stream.Spawn(211);
  EXPECT_EQ(Stream.ActiveCount(), 11);
  EXPECT_FLOAT_EQ(Stream.Tickets[10].StartZ, 70.0f);
  EXPECT_FLOAT_EQ(Stream.Tickets[10].Pos.y, -2.0f);
  // A long frame catches up one slot per frame.
  Stream.Spawn(2000);
  EXPECT_EQ(Stream.ActiveCount(), 12);
  EXPECT_EQ(Stream.SpawnTime, 420u);
  Stream.Spawn(2000);
  EXPECT_EQ(Stream.ActiveCount(), 13);
}

TEST(TicketStream, RetiresBelowZMinus50AndReusesTheLowestFreeEntry) {
  TTicketStream Stream(-4.0f);
  Stream.Start(0);
  // Entry 2 starts at Z = 63: it reaches -50 after 113 units, that is 3390 ms.
  Stream.Move(3390);
  EXPECT_TRUE(Stream.Tickets[1].Active);  // exactly -50 is not below
  Stream.Move(3391);
  EXPECT_FALSE(Stream.Tickets[1].Active);
  EXPECT_TRUE(Stream.Tickets[0].Active);  // entry 1 started 7 units further back
  Stream.SpawnTime = 3180;
  Stream.Spawn(3391);
  EXPECT_TRUE(Stream.Tickets[1].Active);
  EXPECT_EQ(Stream.Tickets[1].Born, 3391u);
  EXPECT_FLOAT_EQ(Stream.Tickets[1].StartZ, 70.0f);
}

TEST(TicketStream, AFullStreamLosesTheSpawnSlot) {
  TTicketStream Stream(-4.0f);
  for (auto& Ticket : Stream.Tickets) Ticket.Active = true;
  Stream.SpawnTime = 0;
  Stream.Spawn(300);
  EXPECT_EQ(Stream.SpawnTime, 210u);  // the slot passed
  Stream.Tickets[50].Active = false;
  Stream.Spawn(300);  // not retried within the same slot
  EXPECT_FALSE(Stream.Tickets[50].Active);
  Stream.Spawn(421);
  EXPECT_TRUE(Stream.Tickets[50].Active);
}

TEST(TicketStream, ClearStopsEveryTicketAndRestartsTheBeat) {
  TTicketStream Stream(-4.0f);
  Stream.Start(500);
  Stream.Beat.BeatHold = false;
  Stream.Clear();
  EXPECT_EQ(Stream.ActiveCount(), 0);
  EXPECT_TRUE(Stream.Beat.BeatHold);
  EXPECT_EQ(Stream.SpawnTime, 0u);
}

TEST(RandomGenerator, IsRepeatableAndStaysInRange) {
  Randomize(42);
  std::vector<int> First;
  for (int i = 0; i < 1000; ++i) First.push_back(Random(11));
  Randomize(42);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(Random(11), First[i]);
  int Seen[11] = {};
  for (int V : First) {
    ASSERT_GE(V, 0);
    ASSERT_LT(V, 11);
    ++Seen[V];
  }
  for (int Count : Seen) EXPECT_GT(Count, 50);  // every picture turns up
  EXPECT_EQ(Random(0), 0);
}

}  // namespace
