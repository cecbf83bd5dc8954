// Random sequences against a real Dovecot: deletion marks consumed by the next check and
// immediate deletions of picked rows, with another client delivering and expunging between
// the check and the deletion. Messages share Message-IDs, differ in their letter case, lack
// one, and share header blocks; half of the deletions run without unique ids, where a key
// several messages share names none of them. The messages gone from the server must be
// exactly those the user chose. VIGILO_DELETION_SEED and VIGILO_DELETION_SEQUENCES choose
// other sequences (scripts/random-deletions).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "tests/core/check_fixture.h"
#include "tests/support/dovecot.h"

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

struct Shown : ViewerView {
  void CloseWindow() override { closed = true; }
  bool closed = false;
};

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

TEST(RandomDeletions, TheMessagesGoneAreExactlyThoseTheUserChose) {
  const unsigned seed = EnvNumber("VIGILO_DELETION_SEED", 20261207);
  const unsigned sequences = EnvNumber("VIGILO_DELETION_SEQUENCES", 200);
  test::DovecotServer server({{"rnd", "rndpw"}});
  const int port = server.Pop3Port();
  std::mt19937 rng(seed);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::map<std::string, std::string> sameness;  // tag -> what no key can tell apart
  int tag = 0;
  // A message with its own Message-ID (kind 0), one from a small shared set where some
  // differ only in letter case (1), or none: missing or blanks only (2). Subject and first
  // line come from small sets, so that messages without Message-ID share header blocks.
  const auto deliver = [&](int kind) {
    static const char* kIds[] = {"<dup0@x>", "<dup1@x>", "<Case@x>", "<case@x>", "<CASE@x>"};
    static const char* kFirstLines[] = {"hello", "Message-ID: <dup0@x>", "hello again"};
    std::string id = kind == 0   ? "<own" + std::to_string(tag) + "@x>"
                     : kind == 1 ? kIds[pick(5)]
                                 : "";
    std::string idLine =
        id.empty() ? (pick(2) ? "Message-ID:   \n" : "") : "Message-ID: " + id + "\n";
    const std::string headers =
        "From: a@x\nTo: rnd@example.test\nSubject: s" + std::to_string(pick(2)) + "\n" + idLine;
    const std::string first = kFirstLines[pick(3)];
    const std::string name = "tag-" + std::to_string(10000 + tag++);
    sameness[name] = id.empty() ? "none:" + headers + "|" + first  // tags all have one length
                                : "id:" + id.substr(1, id.size() - 2);
    server.AddMessage("rnd", headers + "\n" + first + "\n" + name + "\n");
  };
  // What another client does between the check and the deletion: deliver or expunge.
  const auto change = [&](int kind) {
    if (kind < 3) return deliver(kind);
    ms::TmsPOPClient pop;
    if (Open(pop, port).MessageCount() > 0) {
      pop.SetCurrentMessage(pick(pop.MessageCount()));
      pop.DeleteMessage();
    }
    pop.Quit();
  };
  const auto onServer = [&] {
    Tags out;
    for (const std::string& m : server.Messages("rnd"))
      out.insert(TagOf(m));
    return out;
  };
  int checks = 0, immediate = 0, chosenCount = 0, deletions = 0, wrong = 0, missed = 0, kept = 0;
  std::map<int, int> changes;

  for (unsigned sequence = 0; sequence < sequences; ++sequence) {
    server.Clear("rnd");
    test::CheckRig rig;
    tuser& u = rig.Add("Rnd", "rnd", "rndpw", port);
    rig.s.delType = true;  // for the viewer; the check reads only the marks
    test::RefreshingServices services(rig);
    Shown shown;
    TMailViewer viewer(rig.s, rig.pop, services, shown, rig.dir.str());
    std::map<std::string, std::string> tagOfUid;
    for (int k = 4 + pick(5); k > 0; --k)
      deliver(pick(3));
    rig.check.StartCheck();
    for (int round = 0; round < 3; ++round) {
      const bool now = u.HeadCount > 0 && pick(2) == 0;
      if (now) viewer.Show(0);  // sorts the records
      // The user's choice, named by tag through the records' unique ids.
      ReadTags(port, tagOfUid);
      const auto tagOf = [&](int i) {
        return tagOfUid.at(u.Heads[static_cast<std::size_t>(i)].UniqueID);
      };
      Tags records, chosen;
      std::vector<int> picked;
      for (int32_t i = 0; i < u.HeadCount; ++i) {
        records.insert(tagOf(i));
        if (pick(3) != 0) continue;
        chosen.insert(tagOf(i));
        picked.push_back(i);
      }
      if (now) {
        const int current = pick(u.HeadCount);
        viewer.SelectRecord(current);
        for (int i : picked)
          viewer.ToggleMarked(i);
        if (picked.empty()) chosen.insert(tagOf(current));  // the current row is deleted
      } else {
        for (int i : picked)
          u.Heads[static_cast<std::size_t>(i)].DeleteNext = true;
      }
      const bool withIds = pick(2) == 0;
      if (!withIds) {
        for (tmailhead& h : u.Heads)
          h.UniqueID.clear();
      }
      for (int k = pick(4); k > 0; --k) {
        const int kind = pick(4);
        change(kind);
        ++changes[kind];
      }

      const Tags before = onServer();
      const auto sharing = [&](const Tags& tags, const std::string& which) {
        return std::count_if(tags.begin(), tags.end(),
                             [&](const std::string& o) { return sameness[o] == sameness[which]; });
      };
      // With unique ids a choice names its message; without, a key: the one message that
      // has it, when no other record had it either.
      Tags expected;
      for (const std::string& c : chosen) {
        if (withIds) {
          if (before.count(c)) expected.insert(c);
        } else if (sharing(records, c) != 1 || sharing(before, c) != 1) {
          kept += before.count(c) ? 1 : 0;
        } else {
          for (const std::string& b : before)
            if (sameness[b] == sameness[c]) expected.insert(b);
        }
      }

      if (now) {
        shown.closed = false;
        viewer.DelOneClick();
        ++immediate;
      } else {
        rig.check.StartCheck();
        ++checks;
      }
      chosenCount += static_cast<int>(chosen.size());
      const Tags after = onServer();
      Tags gone;
      std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                          std::inserter(gone, gone.begin()));
      deletions += static_cast<int>(gone.size());
      for (const std::string& g : gone)
        wrong += expected.count(g) ? 0 : 1;
      for (const std::string& e : expected)
        missed += gone.count(e) ? 0 : 1;
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
      "%d wrong deletions, %d missed, %d kept for a shared key; another client delivered %d "
      "with own, %d with shared and %d without Message-ID and expunged %d\n",
      seed, sequences, checks, immediate, chosenCount, deletions, wrong, missed, kept, changes[0],
      changes[1], changes[2], changes[3]);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(missed, 0);
}

}  // namespace
}  // namespace vigilo
