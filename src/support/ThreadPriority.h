#pragma once

// How much of the processors a thread asks for when they are all busy. The threads that write,
// publish, serve the web page or check its passwords take a lower share than the receiver, so that
// a burst that keeps every core busy is still read off the socket in time (and waits in the receive
// queue or its overflow file) rather than being dropped by the system while the writer has the
// core.
namespace ThreadPriority {

// The nice steps the writing threads give way by: when one of them and the receiver want the same
// core, the receiver gets three quarters of it.
constexpr int kGiveWaySteps = 5;

// Sets the calling thread's share `steps` nice steps below the process's first thread; asking
// again changes nothing. Allowed to any user; the system may refuse it, and the thread then runs
// as before.
void giveWay(int steps = kGiveWaySteps);

}  // namespace ThreadPriority
