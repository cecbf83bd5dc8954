// Random sequences against a real Dovecot: deletion marks consumed by the next check and
// immediate deletions of picked rows (the viewer with delType on), with another client
// delivering and expunging between the check and the deletion. Messages share
// Message-IDs, differ in their letter case, lack one, and share header blocks; half of the
// deletions run with records that carry no unique id (as after a server without UIDL),
// where a key several messages share names none of them. The messages gone from the
// server must be exactly those the user chose. VIGILO_DELETION_SEED and
// VIGILO_DELETION_SEQUENCES choose other sequences (scripts/random-deletions).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/refresh.h"
#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "tests/core/check_fixture.h"
#include "tests/support/dovecot.h"
#include "viewer/mailviewer.h"

namespace vigilo {
namespace {

using Tags = std::set<std::string>;

// Keeps the raw bytes RETR hands to the decoder.
class RawMessage : public ms::TmsMessage {
 public:
  std::string Raw;

 protected:
  void DecodeRaw(std::string raw) override { Raw = std::move(raw); }
};

// The tag (on the second body line, which TOP n 1 does not show) that names a message.
std::string TagOf(const std::string& bytes) {
  const std::size_t t = bytes.find("tag-");
  return t == std::string::npos ? "" : bytes.substr(t, 9);
}

enum class IdKind { Own, Shared, None };

// One generated message: its bytes and what tells it from others.
struct Generated {
  std::string bytes;
  std::string sameness;  // equal for messages no key can tell apart
};

class Generator {
 public:
  explicit Generator(std::mt19937& rng) : rng_(rng) {}

  // A message with its own Message-ID, one from a small shared set (some differ only in
  // letter case), or none (missing, or blanks only); subject and first line come from
  // small sets, so that messages without Message-ID share header blocks.
  Generated Next(int tag, IdKind kind) {
    static const char* kIds[] = {"<dup0@x>", "<dup1@x>", "<Case@x>", "<case@x>", "<CASE@x>"};
    static const char* kFirstLines[] = {"hello", "Message-ID: <dup0@x>", "hello again"};
    std::string id, idLine;
    if (kind == IdKind::Own) id = "<own" + std::to_string(tag) + "@x>";
    if (kind == IdKind::Shared) id = kIds[Pick(5)];
    if (kind == IdKind::None && Pick(2) == 0) idLine = "Message-ID:   \n";
    if (!id.empty()) idLine = "Message-ID: " + id + "\n";
    const std::string headers =
        "From: a@x\nTo: rnd@example.test\nSubject: s" + std::to_string(Pick(2)) + "\n" + idLine;
    const std::string first = kFirstLines[Pick(3)];
    Generated g;
    g.bytes = headers + "\n" + first + "\ntag-" + std::to_string(10000 + tag) + "\n";
    g.sameness = id.empty() ? "none:" + headers + "|" + first  // tags all have one length
                            : "id:" + id.substr(1, id.size() - 2);
    return g;
  }
  IdKind AnyKind() { return static_cast<IdKind>(Pick(3)); }
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

 private:
  std::mt19937& rng_;
};

ms::TmsPOPClient& Open(ms::TmsPOPClient& pop, int port) {
  pop.SetHost("127.0.0.1:" + std::to_string(port));
  pop.UserName = "rnd";
  pop.Password = "rndpw";
  pop.TimeOut = 30;
  pop.Login();
  return pop;
}

// Adds the tag of every message not in `tags` yet by its unique id, as another client
// sees the server (the tags of messages already read are kept: RETR is slow).
void ReadTags(int port, std::map<std::string, std::string>& tags) {
  ms::TmsPOPClient pop;
  RawMessage raw;
  pop.MailMessage = &raw;
  Open(pop, port);
  std::vector<std::string> uids;
  EXPECT_TRUE(pop.GetUniqueIds(uids, pop.MessageCount()));
  for (int i = 0; i < pop.MessageCount() && i < static_cast<int>(uids.size()); ++i) {
    if (tags.count(uids[static_cast<std::size_t>(i)])) continue;
    pop.SetCurrentMessage(i);
    pop.Retrieve();
    tags[uids[static_cast<std::size_t>(i)]] = TagOf(raw.Raw);
  }
  pop.Quit();
}

// The viewer's server work as the program wires it, over a check rig.
class RefreshServices : public ViewerServices {
 public:
  explicit RefreshServices(test::CheckRig& rig) : rig_(rig) {}
  bool PopLogin(int32_t conf) override { return rig_.check.PopLogin(conf); }
  std::vector<std::string> RefreshHeaders(int32_t conf,
                                          const std::vector<tmailhead>& chosen) override {
    if (!rig_.check.PopLogin(conf)) return {};
    return RefreshHeads(rig_.s, conf, rig_.pop, chosen);
  }

 private:
  test::CheckRig& rig_;
};

class Shown : public ViewerView {
 public:
  void CloseWindow() override { closed = true; }
  bool closed = false;
};

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

struct Tally {
  int checks = 0, immediate = 0, chosen = 0, deletions = 0;
  int wrong = 0;     // gone without being chosen (nor named by a chosen key)
  int missed = 0;    // chosen, present and nameable, yet kept
  int kept = 0;      // chosen but kept: its key named several messages
  int standIns = 0;  // without unique ids: gone in place of a chosen one with the same key
};

TEST(RandomDeletions, TheMessagesGoneAreExactlyThoseTheUserChose) {
  const unsigned seed = EnvNumber("VIGILO_DELETION_SEED", 20261207);
  const unsigned sequences = EnvNumber("VIGILO_DELETION_SEQUENCES", 60);
  test::DovecotServer server({{"rnd", "rndpw"}});
  const int port = server.Pop3Port();
  std::mt19937 rng(seed);
  Generator gen(rng);
  std::map<std::string, std::string> sameness;  // tag -> what tells it apart
  int tag = 0;
  const auto deliver = [&](IdKind kind) {
    const Generated g = gen.Next(tag, kind);
    sameness["tag-" + std::to_string(10000 + tag++)] = g.sameness;
    server.AddMessage("rnd", g.bytes);
  };
  const auto onServer = [&] {
    Tags out;
    for (const std::string& m : server.Messages("rnd"))
      out.insert(TagOf(m));
    return out;
  };
  // What another client does between the check and the deletion.
  struct Change {
    const char* name;
    std::function<void()> apply;
  };
  const Change changes[] = {
      {"new", [&] { deliver(IdKind::Own); }},
      {"shared id", [&] { deliver(IdKind::Shared); }},
      {"no id", [&] { deliver(IdKind::None); }},
      {"expunge",
       [&] {
         ms::TmsPOPClient pop;
         if (Open(pop, port).MessageCount() > 0) {
           pop.SetCurrentMessage(gen.Pick(pop.MessageCount()));
           pop.DeleteMessage();
         }
         pop.Quit();
       }},
  };
  std::map<std::string, int> changed;
  Tally t;

  for (unsigned sequence = 0; sequence < sequences; ++sequence) {
    server.Clear("rnd");
    test::CheckRig rig;
    tuser& u = rig.Add("Rnd", "rnd", "rndpw", port);
    rig.s.delType = true;  // for the viewer; the check reads only the marks
    RefreshServices services(rig);
    Shown shown;
    TMailViewer viewer(rig.s, rig.pop, services, shown, rig.dir.str());
    std::map<std::string, std::string> tagOfUid;
    for (int k = 4 + gen.Pick(5); k > 0; --k)
      deliver(gen.AnyKind());
    rig.check.StartCheck();
    for (int round = 0; round < 3; ++round) {
      const bool now = u.HeadCount > 0 && gen.Pick(2) == 0;
      if (now) viewer.Show(0);  // sorts the records
      // The user's choice, named by tag through the records' unique ids.
      ReadTags(port, tagOfUid);
      Tags records, chosen;
      std::vector<int> picked;
      for (int32_t i = 0; i < u.HeadCount; ++i) {
        const std::string rt = tagOfUid.at(u.Heads[static_cast<std::size_t>(i)].UniqueID);
        records.insert(rt);
        if (gen.Pick(3) != 0) continue;
        chosen.insert(rt);
        picked.push_back(i);
      }
      if (now) {
        const int current = gen.Pick(u.HeadCount);
        viewer.SelectRecord(current);
        for (int i : picked)
          viewer.ToggleMarked(i);
        // Nothing picked: the current row is deleted.
        if (picked.empty())
          chosen.insert(tagOfUid.at(u.Heads[static_cast<std::size_t>(current)].UniqueID));
      } else {
        for (int i : picked)
          u.Heads[static_cast<std::size_t>(i)].DeleteNext = true;
      }
      const bool withIds = gen.Pick(2) == 0;
      if (!withIds) {
        for (tmailhead& h : u.Heads)
          h.UniqueID.clear();
      }
      for (int k = gen.Pick(4); k > 0; --k) {
        const Change& c = changes[gen.Pick(4)];
        c.apply();
        ++changed[c.name];
      }

      const Tags before = onServer();
      const auto sharing = [&](const Tags& tags, const std::string& which) {
        return static_cast<int>(std::count_if(tags.begin(), tags.end(), [&](const std::string& o) {
          return sameness[o] == sameness[which];
        }));
      };
      Tags expected;
      for (const std::string& c : chosen) {
        if (withIds) {
          if (before.count(c)) expected.insert(c);
          continue;
        }
        // Without unique ids a choice names a key: the one message that has it, when no
        // other record had it either.
        if (sharing(records, c) != 1 || sharing(before, c) != 1) {
          if (before.count(c)) ++t.kept;
          continue;
        }
        for (const std::string& b : before)
          if (sameness[b] == sameness[c]) expected.insert(b);
      }

      if (now) {
        shown.closed = false;
        viewer.DelOneClick();
        ++t.immediate;
      } else {
        rig.check.StartCheck();
        ++t.checks;
      }
      t.chosen += static_cast<int>(chosen.size());
      const Tags after = onServer();
      Tags gone;
      std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                          std::inserter(gone, gone.begin()));
      t.deletions += static_cast<int>(gone.size());
      for (const std::string& g : gone) {
        if (!expected.count(g)) ++t.wrong;
        if (expected.count(g) && !chosen.count(g)) ++t.standIns;
      }
      for (const std::string& e : expected)
        t.missed += gone.count(e) ? 0 : 1;
      EXPECT_EQ(gone, expected) << "seed " << seed << " sequence " << sequence << " round " << round
                                << (now ? " at once" : " by the check")
                                << (withIds ? " with" : " without") << " unique ids";
      ASSERT_EQ(u.HeadCount, static_cast<int32_t>(after.size()));
      if (now) {
        EXPECT_EQ(shown.closed, after.empty());
      }
    }
  }
  std::printf(
      "seed %u: %u sequences, %d checks, %d immediate deletions, %d chosen, %d deleted, "
      "%d wrong deletions, %d missed, %d kept for a shared key, %d same-key stand-ins;",
      seed, sequences, t.checks, t.immediate, t.chosen, t.deletions, t.wrong, t.missed, t.kept,
      t.standIns);
  for (const auto& [name, count] : changed)
    std::printf(" %s %d,", name.c_str(), count);
  std::printf(" changes by another client\n");
  EXPECT_EQ(t.wrong, 0);
  EXPECT_EQ(t.missed, 0);
}

}  // namespace
}  // namespace vigilo
