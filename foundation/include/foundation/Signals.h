// Signals: a sender calls member functions of receiver objects without knowing them.
//
// Signal0..Signal3 hold ordered connections (receiver, member). Emit calls every connection
// in order on the calling thread. Connecting twice makes the member run twice. A receiver's
// DisconnectAll removes all its connections from every signal; destroying a receiver or a
// signal disconnects it.
//
// Members run on the emitting thread (usually a worker), so the connection lists are
// guarded by one small process-wide mutex. It is held only while lists change or are
// copied, never while a member runs: members may connect, disconnect, emit and destroy
// receivers freely. An emission on another thread that had already reached a connection
// may still make that one call after DisconnectAll returns; owners must not destroy a
// receiver while another thread may be calling it (workers are stopped first).
// The designed lock hooks of signals and receivers did nothing; this mutex replaces them.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace pcutil {

class SignalReceiver;

namespace detail {
inline std::mutex& SignalMutex() {
  static std::mutex m;
  return m;
}
}  // namespace detail

class SignalBase {
 public:
  SignalBase() = default;
  SignalBase(const SignalBase&) = delete;
  SignalBase& operator=(const SignalBase&) = delete;

 protected:
  ~SignalBase() = default;

 private:
  friend class SignalReceiver;
  // Drops every connection to the receiver; the signal mutex is held.
  virtual void DropReceiverLocked(SignalReceiver* receiver) = 0;
};

class SignalReceiver {
 public:
  SignalReceiver() = default;
  SignalReceiver(const SignalReceiver&) = delete;
  SignalReceiver& operator=(const SignalReceiver&) = delete;
  virtual ~SignalReceiver() { DisconnectAll(); }

  // Removes every connection to this receiver from every signal it is connected to.
  void DisconnectAll() {
    std::lock_guard<std::mutex> lock(detail::SignalMutex());
    for (SignalBase* s : signals_) s->DropReceiverLocked(this);
    signals_.clear();
  }

 private:
  template <typename...>
  friend class Signal;
  std::set<SignalBase*> signals_;  // signals with at least one connection to this receiver
};

template <typename... Args>
class Signal final : public SignalBase {
 public:
  Signal() = default;
  ~Signal() {
    std::lock_guard<std::mutex> lock(detail::SignalMutex());
    for (auto& c : connections_) {
      c->live = false;
      c->receiver->signals_.erase(this);
    }
    connections_.clear();
  }

  // Appends a connection; no duplicate check.
  template <typename R, typename Base>
  void Connect(R* receiver, void (Base::*member)(Args...)) {
    auto c = std::make_shared<Connection>();
    c->receiver = receiver;
    c->call = [receiver, member](Args... a) { (receiver->*member)(std::forward<Args>(a)...); };
    std::lock_guard<std::mutex> lock(detail::SignalMutex());
    connections_.push_back(std::move(c));
    static_cast<SignalReceiver*>(receiver)->signals_.insert(this);
  }

  // Calls every connection in order. Connections removed meanwhile (also by a member
  // of this very emission) are skipped. Touches no member of the signal after copying
  // the list, so a member may destroy the signal's owner.
  void Emit(Args... args) {
    std::vector<std::shared_ptr<Connection>> snapshot;
    {
      std::lock_guard<std::mutex> lock(detail::SignalMutex());
      if (connections_.empty()) return;
      snapshot = connections_;
    }
    for (const auto& c : snapshot)
      if (c->live.load()) c->call(args...);
  }
  void operator()(Args... args) { Emit(args...); }

  size_t ConnectionCount() const {
    std::lock_guard<std::mutex> lock(detail::SignalMutex());
    return connections_.size();
  }

 private:
  struct Connection {
    SignalReceiver* receiver = nullptr;
    std::function<void(Args...)> call;
    std::atomic<bool> live{true};
  };

  void DropReceiverLocked(SignalReceiver* receiver) override {
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [&](const std::shared_ptr<Connection>& c) {
                                        if (c->receiver != receiver) return false;
                                        c->live = false;
                                        return true;
                                      }),
                       connections_.end());
  }

  std::vector<std::shared_ptr<Connection>> connections_;
};

using Signal0 = Signal<>;
template <typename A1>
using Signal1 = Signal<A1>;
template <typename A1, typename A2>
using Signal2 = Signal<A1, A2>;
template <typename A1, typename A2, typename A3>
using Signal3 = Signal<A1, A2, A3>;

}  // namespace pcutil
