// Random sequences of deliveries, checks, marks and another client's expunges against a real
// Dovecot: the messages a check deletes are exactly those its marks name. Messages share
// Message-IDs, differ in their letter case, lack one, and share header blocks; half of the
// checks run with records that carry no unique id, where a key several messages share names
// none of them. VIGILO_DELETION_SEED and VIGILO_DELETION_SEQUENCES choose other sequences
// (scripts/random-deletions).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

// Keeps the raw bytes RETR hands to the decoder.
class RawMessage : public ms::TmsMessage {
 public:
  std::string Raw;

 protected:
  void DecodeRaw(std::string raw) override { Raw = std::move(raw); }
};

// One generated message: its bytes and what tells it from others.
struct Generated {
  std::string bytes;
  std::string sameness;  // equal for messages no key can tell apart
};

class Generator {
 public:
  explicit Generator(std::mt19937& rng) : rng_(rng) {}

  // Another message; its tag (on the second body line, which TOP n 1 does not show) names it.
  Generated Next(int tag) {
    static const char* kIds[] = {"<dup0@x>", "<dup1@x>", "<Case@x>", "<case@x>", "<CASE@x>"};
    static const char* kFirstLines[] = {"hello", "Message-ID: <dup0@x>", "hello again"};
    const std::string tagLine = "tag-" + std::to_string(10000 + tag);  // all the same length
    std::string idLine;
    std::string id;
    switch (Pick(5)) {
      case 0:
        id = "<own" + std::to_string(tag) + "@x>";
        break;
      case 1:
      case 2:
        id = kIds[Pick(5)];
        break;
      case 3:
        break;  // no Message-ID
      default:
        idLine = "Message-ID:   \n";  // blanks only: no Message-ID either
    }
    if (!id.empty()) idLine = "Message-ID: " + id + "\n";
    const std::string headers =
        "From: a@x\nTo: rnd@example.test\nSubject: s" + std::to_string(Pick(2)) + "\n" + idLine;
    const std::string first = kFirstLines[Pick(3)];
    Generated g;
    g.bytes = headers + "\n" + first + "\n" + tagLine + "\n";
    const std::string bare = id.substr(id.empty() ? 0 : 1, id.empty() ? 0 : id.size() - 2);
    g.sameness = id.empty() ? "none:" + headers + "|" + first + "|" + std::to_string(g.bytes.size())
                            : "id:" + bare;
    return g;
  }
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

 private:
  std::mt19937& rng_;
};

// The server as another client sees it: unique id and tag of every message, in order.
struct Listing {
  std::vector<std::string> uids, tags;
};

Listing List(int port) {
  ms::TmsPOPClient pop;
  RawMessage raw;
  pop.MailMessage = &raw;
  pop.SetHost("127.0.0.1:" + std::to_string(port));
  pop.UserName = "rnd";
  pop.Password = "rndpw";
  pop.TimeOut = 30;
  pop.Login();
  Listing l;
  EXPECT_TRUE(pop.GetUniqueIds(l.uids, pop.MessageCount()));
  for (int i = 0; i < pop.MessageCount(); ++i) {
    pop.SetCurrentMessage(i);
    pop.Retrieve();
    const std::size_t t = raw.Raw.find("tag-");
    l.tags.push_back(t == std::string::npos ? "" : raw.Raw.substr(t, 9));
  }
  pop.Quit();
  return l;
}

// Another client expunges message `index` (0-based).
void Expunge(int port, int index) {
  ms::TmsPOPClient pop;
  pop.SetHost("127.0.0.1:" + std::to_string(port));
  pop.UserName = "rnd";
  pop.Password = "rndpw";
  pop.TimeOut = 30;
  pop.Login();
  pop.SetCurrentMessage(index);
  pop.DeleteMessage();
  pop.Quit();
}

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

TEST(RandomDeletions, ChecksDeleteExactlyWhatTheMarksName) {
  const unsigned seed = EnvNumber("VIGILO_DELETION_SEED", 20261207);
  const unsigned sequences = EnvNumber("VIGILO_DELETION_SEQUENCES", 6);
  test::DovecotServer server({{"rnd", "rndpw"}});
  std::mt19937 rng(seed);
  Generator gen(rng);
  int checks = 0, marks = 0, deletions = 0, wrong = 0, missed = 0, stand_ins = 0, tag = 0;
  for (unsigned sequence = 0; sequence < sequences; ++sequence) {
    server.Clear("rnd");
    test::CheckRig rig;
    tuser& u = rig.Add("Rnd", "rnd", "rndpw", server.Pop3Port());
    std::map<std::string, std::string> sameness;  // tag -> what tells it apart
    const auto deliver = [&](int n) {
      for (int k = 0; k < n; ++k) {
        const Generated g = gen.Next(tag);
        sameness["tag-" + std::to_string(10000 + tag)] = g.sameness;
        ++tag;
        server.AddMessage("rnd", g.bytes);
      }
    };
    deliver(6 + gen.Pick(6));
    rig.check.StartCheck();
    for (int round = 0; round < 4; ++round) {
      // The records as the check left them, each named by its unique id.
      const Listing seen = List(server.Pop3Port());
      std::map<std::string, std::string> tagOfUid;
      for (std::size_t i = 0; i < seen.uids.size(); ++i)
        tagOfUid[seen.uids[i]] = seen.tags[i];
      const bool withIds = gen.Pick(2) == 0;
      std::vector<std::string> marked;  // tags
      for (int32_t i = 0; i < u.HeadCount; ++i) {
        tmailhead& h = u.Heads[static_cast<std::size_t>(i)];
        h.DeleteNext = gen.Pick(3) == 0;
        if (h.DeleteNext) marked.push_back(tagOfUid[h.UniqueID]);
        if (!withIds) h.UniqueID.clear();
      }
      marks += static_cast<int>(marked.size());
      // Meanwhile another client delivers and expunges.
      if (gen.Pick(2) == 0) deliver(1 + gen.Pick(3));
      const int onServer = static_cast<int>(List(server.Pop3Port()).tags.size());
      if (onServer > 0 && gen.Pick(2) == 0) Expunge(server.Pop3Port(), gen.Pick(onServer));

      const Listing before = List(server.Pop3Port());
      std::set<std::string> expected;
      const auto sharing = [&](const std::vector<std::string>& tags, const std::string& t) {
        std::vector<std::string> same;
        for (const std::string& other : tags)
          if (sameness[other] == sameness[t]) same.push_back(other);
        return same;
      };
      for (const std::string& t : marked) {
        if (withIds) {
          if (std::count(before.tags.begin(), before.tags.end(), t)) expected.insert(t);
          continue;
        }
        // Without unique ids a mark names a key: the one message that has it, when no other
        // record had it either.
        const auto here = sharing(before.tags, t);
        if (sharing(seen.tags, t).size() == 1 && here.size() == 1) expected.insert(here[0]);
      }
      rig.check.StartCheck();
      ++checks;
      const Listing after = List(server.Pop3Port());
      std::set<std::string> gone;
      for (const std::string& t : before.tags)
        if (std::find(after.tags.begin(), after.tags.end(), t) == after.tags.end()) gone.insert(t);
      deletions += static_cast<int>(gone.size());
      for (const std::string& t : gone) {
        if (!expected.count(t)) ++wrong;
        // A message no key can tell from a marked one that another client expunged.
        if (std::find(marked.begin(), marked.end(), t) == marked.end()) ++stand_ins;
      }
      for (const std::string& t : expected)
        if (!gone.count(t)) ++missed;
      EXPECT_EQ(gone, expected) << "seed " << seed << " sequence " << sequence << " round " << round
                                << (withIds ? " with" : " without") << " unique ids";
      EXPECT_EQ(u.HeadCount, static_cast<int32_t>(after.tags.size()));
    }
  }
  std::printf(
      "seed %u: %u sequences, %d checks, %d marks, %d deletions, %d wrong deletions, %d missed, "
      "%d of a same-key stand-in\n",
      seed, sequences, checks, marks, deletions, wrong, missed, stand_ins);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(missed, 0);
}

}  // namespace
}  // namespace vigilo
