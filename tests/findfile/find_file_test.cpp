#include "findfile/find_file.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <thread>
#ifndef _WIN32
#include <unistd.h>
#endif
#include <vector>

#include "platform/file_system.h"
#include "platform/path.h"
#include "support/test_support.h"

namespace kzb::findfile {
namespace {

using kzb::test::ScratchDir;
using kzb::test::WriteFileText;
using platform::DateTime;

// Records every event as a line, folders spelled with "/" on every system: "F folder/name", "N folder", "C".
class Recorder {
 public:
  explicit Recorder(TFindFile& finder) {
    finder.OnFound = [this](TFindFile&, const std::string& folder, TSearchRec& rec) {
      events.push_back("F " + platform::ToForwardSlashes(folder) + "/" + rec.name);
      threads.push_back(std::this_thread::get_id());
    };
    finder.OnNewFolder = [this](TFindFile&, const std::string& folder, bool&) {
      events.push_back("N " + platform::ToForwardSlashes(folder));
      threads.push_back(std::this_thread::get_id());
    };
    finder.OnComplete = [this](TFindFile&) {
      events.push_back("C");
      threads.push_back(std::this_thread::get_id());
    };
  }
  // Names of the found items, without their folder.
  std::vector<std::string> Found(const std::string& base) const {
    std::vector<std::string> names;
    for (const std::string& e : events) {
      if (e.rfind("F ", 0) == 0) names.push_back(e.substr(2 + base.size()));
    }
    return names;
  }
  int Count(char kind) const {
    int n = 0;
    for (const std::string& e : events) n += e[0] == kind;
    return n;
  }
  std::vector<std::string> events;
  std::vector<std::thread::id> threads;
};

class FindFileTest : public ::testing::Test {
 protected:
  // The scratch folder without its trailing separator, as the finder reports folders.
  std::string Base() const { return dir_.Path().substr(0, dir_.Path().size() - 1); }
  // The same spelled with "/", as the Recorder writes folders.
  std::string SlashedBase() const { return platform::ToForwardSlashes(Base()); }
  void Touch(const std::string& relative, std::size_t size = 1) {
    WriteFileText(dir_ / relative, std::string(size, 'x'));
  }
  void SetTime(const std::string& relative, const std::string& when) {
    ASSERT_TRUE(platform::SetFileTime(dir_ / relative, DateTime::ParseDateTime(when)));
  }
  ScratchDir dir_;
};

TEST_F(FindFileTest, ZipFilesOfOneFolder) {
  Touch("a.zip");
  Touch("b.ZIP");
  Touch("c.txt");
  Touch("sub/d.zip");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetFilename("*.zip");
  finder.SetSubfolders(false);
  finder.SetLocation(dir_.Path());
  finder.Execute();
  EXPECT_EQ(rec.events, (std::vector<std::string>{"N " + SlashedBase(), "F " + SlashedBase() + "/a.zip",
                                                  "F " + SlashedBase() + "/b.ZIP", "C"}));
  EXPECT_FALSE(finder.Busy());
  EXPECT_FALSE(finder.Aborted());
}

TEST_F(FindFileTest, FoundRecordCarriesSizeAndTimes) {
  Touch("a.zip", 1234);
  SetTime("a.zip", "2023-05-06 07:08:10");
  TFindFile finder;
  finder.SetFilename("*.zip");
  finder.SetLocation(Base());
  TSearchRec found;
  finder.OnFound = [&](TFindFile&, const std::string&, TSearchRec& r) { found = r; };
  finder.Execute();
  EXPECT_EQ(found.name, "a.zip");
  EXPECT_EQ(found.size, 1234);
  EXPECT_EQ(found.attr, platform::kFaArchive);
  EXPECT_EQ(found.time.FormatDateTime(), "2023-05-06 07:08:10");
  EXPECT_GT(found.creation_time.Value(), 0.0);
  EXPECT_GT(found.access_time.Value(), 0.0);
}

TEST_F(FindFileTest, SubfoldersDepthFirstInListingOrder) {
  Touch("b.txt");
  Touch("a/x.txt");
  Touch("a/deeper/y.txt");
  Touch("c/z.txt");
  Touch(".hidden/h.txt");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetFilename("*.txt");
  finder.SetLocation(Base());
  finder.Execute();
  const std::string b = SlashedBase();
  EXPECT_EQ(rec.events, (std::vector<std::string>{"N " + b, "F " + b + "/b.txt", "N " + b + "/a", "F " + b + "/a/x.txt",
                                                  "N " + b + "/a/deeper", "F " + b + "/a/deeper/y.txt", "N " + b + "/c",
                                                  "F " + b + "/c/z.txt", "C"}));
}

TEST_F(FindFileTest, FilenameWithoutDotSearchesItsExtensions) {
  Touch("report");
  Touch("report.txt");
  Touch("report.2024.pdf");
  Touch("reports.txt");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetFilename("report");
  finder.SetLocation(Base());
  finder.Execute();
  EXPECT_EQ(rec.Found(Base()), (std::vector<std::string>{"/report", "/report.2024.pdf", "/report.txt"}));
}

TEST_F(FindFileTest, EmptyFilenameFindsEverything) {
  Touch("a");
  Touch("b.c");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetFilename("");
  finder.SetLocation(Base());
  finder.Execute();
  EXPECT_EQ(rec.Count('F'), 2);
}

TEST_F(FindFileTest, LocationListSplitsAndSearchesEachFolderOnce) {
  Touch("one/a.zip");
  Touch("two/b.zip");
  struct Case {
    std::string location;
    int new_folders;
  };
  const Case cases[] = {
      {dir_ / "one;" + dir_ / "one", 1},
      {dir_ / "one;" + dir_ / "one/", 1},
      {dir_ / "one;" + dir_ / "two", 2},
      {dir_ / "one;", 1},
      {dir_ / "one;;", 1},
      {dir_ / "one;" + dir_ / "two/../one", 1},
  };
  for (const Case& c : cases) {
    TFindFile finder;
    Recorder rec(finder);
    finder.SetFilename("*.zip");
    finder.SetLocation(c.location);
    finder.Execute();
    EXPECT_EQ(rec.Count('N'), c.new_folders) << c.location;
    EXPECT_EQ(rec.Count('F'), c.new_folders) << c.location;
  }
}

TEST_F(FindFileTest, EmptyLocationPiecesMeanTheCurrentFolder) {
  Touch("here.zip");
  Touch("other/there.zip");
  const std::string old_cwd = platform::CurrentDir();
  ASSERT_EQ(chdir(dir_.Path().c_str()), 0);
  TFindFile finder;
  Recorder rec(finder);
  finder.SetFilename("*.zip");
  finder.SetSubfolders(false);
  finder.Execute();  // empty Location
  EXPECT_EQ(rec.Count('F'), 1);
  Recorder rec2(finder);
  finder.SetLocation(";other");  // the current folder, then a relative one
  finder.Execute();
  const std::string b = SlashedBase();
  EXPECT_EQ(rec2.Found(""), (std::vector<std::string>{b + "/here.zip", b + "/other/there.zip"}));
  ASSERT_EQ(chdir(old_cwd.c_str()), 0);
}

TEST_F(FindFileTest, FoldersAreReportedOnlyWhenAsked) {
  Touch("x.zip/inner.txt");
  Touch("y.zip");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetFilename("*.zip");
  finder.SetSubfolders(false);
  finder.SetLocation(Base());
  finder.Execute();
  EXPECT_EQ(rec.Found(Base()), std::vector<std::string>{"/y.zip"});

  Recorder rec2(finder);
  finder.SetAttributes(kDefaultAttributes | ffDirectory);
  finder.Execute();
  EXPECT_EQ(rec2.Found(Base()), (std::vector<std::string>{"/x.zip", "/y.zip"}));
}

TEST_F(FindFileTest, DotFilesAreNeverReported) {
  Touch(".secret.zip");
  Touch("open.zip");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetFilename("*.zip");
  finder.SetAttributes(ffArchive | ffHidden | ffDirectory | ffReadonly | ffSystem);
  finder.SetLocation(Base());
  finder.Execute();
  EXPECT_EQ(rec.Found(Base()), std::vector<std::string>{"/open.zip"});
}

TEST_F(FindFileTest, AttributeFilter) {
  Touch("plain.txt");
  Touch("ro.txt");
  ASSERT_TRUE(platform::SetFileAttributes(dir_ / "ro.txt", platform::kFaReadOnly));
  struct Case {
    TFileAttributes attributes;
    bool exact;
    std::vector<std::string> found;
  };
  const Case cases[] = {
      {kDefaultAttributes, false, {"/plain.txt", "/ro.txt"}},
      {ffReadonly, false, {"/ro.txt"}},
      {ffArchive | ffReadonly, true, {"/ro.txt"}},
      {ffArchive, true, {"/plain.txt"}},
      {ffHidden, false, {}},
  };
  for (const Case& c : cases) {
    TFindFile finder;
    Recorder rec(finder);
    finder.SetLocation(Base());
    finder.SetAttributes(c.attributes);
    finder.SetExactAttribute(c.exact);
    finder.Execute();
    EXPECT_EQ(rec.Found(Base()), c.found) << int(c.attributes) << " " << c.exact;
  }
}

TEST_F(FindFileTest, SizeBounds) {
  Touch("s099", 99);
  Touch("s100", 100);
  Touch("s101", 101);
  struct Case {
    std::int64_t min, max;
    std::vector<std::string> found;
  };
  const Case cases[] = {
      {0, 0, {"/s099", "/s100", "/s101"}},
      {100, 0, {"/s100", "/s101"}},
      {0, 100, {"/s099", "/s100"}},
      {100, 100, {"/s100"}},
  };
  for (const Case& c : cases) {
    TFindFile finder;
    Recorder rec(finder);
    finder.SetLocation(Base());
    finder.SetSizeMin(c.min);
    finder.SetSizeMax(c.max);
    finder.Execute();
    EXPECT_EQ(rec.Found(Base()), c.found) << c.min << ".." << c.max;
  }
}

TEST_F(FindFileTest, ModifiedBoundsByTheirForm) {
  Touch("before");
  Touch("early");
  Touch("late");
  Touch("next");
  SetTime("before", "2024-03-09 23:59:58");
  SetTime("early", "2024-03-10 00:00:02");
  SetTime("late", "2024-03-10 23:00:00");
  SetTime("next", "2024-03-11 08:00:00");
  struct Case {
    const char* name;
    DateTime after, before;
    std::vector<std::string> found;
  };
  const DateTime day = DateTime::ParseDate("2024-03-10");
  const Case cases[] = {
      {"after whole date", day, DateTime(), {"/early", "/late", "/next"}},
      {"before whole date", DateTime(), day, {"/before", "/early", "/late"}},
      {"on the day", day, day, {"/early", "/late"}},
      {"after full value", DateTime::ParseDateTime("2024-03-10 12:00:00"), DateTime(), {"/late", "/next"}},
      {"before full value", DateTime(), DateTime::ParseDateTime("2024-03-10 00:00:02"), {"/before", "/early"}},
      {"after time of day", DateTime::ParseTime("20:00:00"), DateTime(), {"/before", "/late"}},
      {"before time of day", DateTime(), DateTime::ParseTime("08:00:00"), {"/early", "/next"}},
  };
  for (const Case& c : cases) {
    TFindFile finder;
    Recorder rec(finder);
    finder.SetLocation(Base());
    finder.SetModifiedAfter(c.after);
    finder.SetModifiedBefore(c.before);
    finder.Execute();
    EXPECT_EQ(rec.Found(Base()), c.found) << c.name;
  }
}

TEST_F(FindFileTest, AccessedAndCreatedBounds) {
  Touch("a");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetLocation(Base());
  finder.SetCreatedAfter(DateTime::Now().AddDays(1).DatePart());
  finder.Execute();
  EXPECT_EQ(rec.Count('F'), 0);
  Recorder rec2(finder);
  finder.SetCreatedAfter(DateTime());
  finder.SetAccessedBefore(DateTime::Now().AddDays(1).DatePart());
  finder.Execute();
  EXPECT_EQ(rec2.Count('F'), 1);
}

TEST_F(FindFileTest, ExcludeFiles) {
  Touch("a.tmp");
  Touch("a.tmp.bak");
  Touch("keep.txt");
  Touch("cache/c.txt");
  Touch("deep/cache/d.txt");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetLocation(Base());
  finder.SetExcludeFiles({"*.TMP", test::Native("/cache/")});
  finder.Execute();
  EXPECT_EQ(rec.Found(Base()), (std::vector<std::string>{"/a.tmp.bak", "/keep.txt"}));
}

TEST_F(FindFileTest, ContainingText) {
  std::string content(4090, '.');
  content += "MagicWord";  // straddles the first 4096-byte block
  WriteFileText(dir_ / "straddle.txt", content);
  WriteFileText(dir_ / "lower.txt", "a magicword here");
  WriteFileText(dir_ / "none.txt", "nothing");
  Touch("folder/inner.txt");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetLocation(Base());
  finder.SetSubfolders(false);
  finder.SetAttributes(kDefaultAttributes | ffDirectory);
  finder.SetContaining("MagicWord");
  finder.Execute();
  EXPECT_EQ(rec.Found(Base()), (std::vector<std::string>{"/folder", "/lower.txt", "/straddle.txt"}));
  Recorder rec2(finder);
  finder.SetIgnoreCase(false);
  finder.Execute();
  EXPECT_EQ(rec2.Found(Base()), (std::vector<std::string>{"/folder", "/straddle.txt"}));
}

TEST_F(FindFileTest, UnreadableFileFailsContainedTextAndTheSearchGoesOn) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits";
#else
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  WriteFileText(dir_ / "a.txt", "word");
  WriteFileText(dir_ / "b.txt", "word");
  WriteFileText(dir_ / "c.txt", "word");
  chmod((dir_ / "b.txt").c_str(), 0);
  TFindFile finder;
  Recorder rec(finder);
  finder.SetLocation(Base());
  finder.SetContaining("word");
  finder.Execute();
  EXPECT_EQ(rec.Found(Base()), (std::vector<std::string>{"/a.txt", "/c.txt"}));
#endif
}

TEST_F(FindFileTest, IncludeFilesReplaceLocationAndFilename) {
  Touch("a/x.doc");
  Touch("a/y.txt");
  Touch("b/z.txt");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetLocation(dir_ / "nowhere");
  finder.SetFilename("*.zip");
  finder.SetSubfolders(false);
  finder.SetIncludeFiles({dir_ / "a/*.doc", dir_ / "b/*.txt"});
  finder.Execute();
  EXPECT_EQ(rec.Found(Base()), (std::vector<std::string>{"/a/x.doc", "/b/z.txt"}));
}

TEST_F(FindFileTest, InvalidPropertiesRaiseAndKeepTheOldValue) {
  TFindFile finder;
  finder.SetFilename("*.zip");
  try {
    finder.SetFilename("/x/*.zip");
    FAIL();
  } catch (const EFindFileError& e) {
    EXPECT_STREQ(e.what(), "/x/*.zip\n\rInvalid filename specified");
  }
  EXPECT_EQ(finder.Filename(), "*.zip");
  finder.SetLocation("/a;/b");
  try {
    finder.SetLocation("/a/*");
    FAIL();
  } catch (const EFindFileError& e) {
    EXPECT_STREQ(e.what(), "/a/*\n\rlocation cannot to be contained wildcards");
  }
  EXPECT_THROW(finder.SetLocation("/a?"), EFindFileError);
  EXPECT_EQ(finder.Location(), "/a;/b");
}

TEST_F(FindFileTest, Defaults) {
  TFindFile finder;
  EXPECT_EQ(finder.Filename(), "*.*");
  EXPECT_EQ(finder.Location(), "");
  EXPECT_TRUE(finder.Subfolders());
  EXPECT_EQ(finder.Attributes(), 15);
  EXPECT_FALSE(finder.ExactAttribute());
  EXPECT_TRUE(finder.IgnoreCase());
  EXPECT_FALSE(finder.Threaded());
  EXPECT_EQ(finder.ThreadPriority(), TThreadPriority::tpNormal);
  EXPECT_EQ(finder.SizeMin(), 0);
  EXPECT_EQ(finder.SizeMax(), 0);
  EXPECT_EQ(finder.ModifiedAfter().Value(), 0.0);
}

TEST_F(FindFileTest, IgnoringAFolder) {
  Touch("a.txt");
  Touch("skip/b.txt");
  Touch("skip/deeper/c.txt");
  Touch("take/d.txt");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetLocation(Base());
  finder.OnNewFolder = [&](TFindFile&, const std::string& folder, bool& ignore) {
    rec.events.push_back("N " + folder);
    ignore = folder == dir_ / "skip";
  };
  finder.Execute();
  EXPECT_EQ(rec.Found(Base()), (std::vector<std::string>{"/a.txt", "/take/d.txt"}));

  Recorder rec2(finder);
  finder.OnNewFolder = [](TFindFile&, const std::string&, bool& ignore) { ignore = true; };
  finder.Execute();
  EXPECT_EQ(rec2.events, std::vector<std::string>{"C"});
}

TEST_F(FindFileTest, AbortFromAHandlerStopsTheSearch) {
  for (int i = 0; i < 10; ++i) Touch(test::Numbered("f", i));
  TFindFile finder;
  int found = 0, completed = 0;
  finder.SetLocation(Base());
  finder.OnFound = [&](TFindFile& sender, const std::string&, TSearchRec&) {
    if (++found == 3) sender.Abort();
  };
  finder.OnComplete = [&](TFindFile&) { ++completed; };
  finder.Execute();
  EXPECT_EQ(found, 3);
  EXPECT_EQ(completed, 1);
  EXPECT_TRUE(finder.Aborted());
}

TEST_F(FindFileTest, HandlerErrorEndsTheSearchQuietly) {
  Touch("a");
  Touch("b");
  TFindFile finder;
  int found = 0, completed = 0;
  finder.SetLocation(Base());
  finder.OnFound = [&](TFindFile&, const std::string&, TSearchRec&) {
    ++found;
    throw std::runtime_error("handler failed");
  };
  finder.OnComplete = [&](TFindFile&) { ++completed; };
  EXPECT_NO_THROW(finder.Execute());
  EXPECT_EQ(found, 1);
  EXPECT_EQ(completed, 1);
  EXPECT_TRUE(finder.Aborted());
  EXPECT_EQ(finder.ErrorMessage(), "handler failed");
  EXPECT_FALSE(finder.Busy());
}

TEST_F(FindFileTest, LinkLoopDoesNotRunForever) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: symbolic links";
#else
  Touch("a/file.txt");
  ASSERT_EQ(symlink((dir_ / "a").c_str(), (dir_ / "a/loop").c_str()), 0);
  ASSERT_EQ(symlink(dir_.Path().c_str(), (dir_ / "a/up").c_str()), 0);
  TFindFile finder;
  Recorder rec(finder);
  finder.SetLocation(Base());
  finder.Execute();
  EXPECT_EQ(rec.Found(Base()), std::vector<std::string>{"/a/file.txt"});
#endif
}

TEST_F(FindFileTest, MissingFolderFindsNothing) {
  TFindFile finder;
  Recorder rec(finder);
  finder.SetLocation(dir_ / "missing");
  finder.Execute();
  EXPECT_EQ(rec.events, (std::vector<std::string>{"N " + SlashedBase() + "/missing", "C"}));
  EXPECT_FALSE(finder.Aborted());
}

TEST_F(FindFileTest, CompleteHandlerMayStartTheNextSearch) {
  Touch("a.zip");
  TFindFile finder;
  int found = 0, completed = 0;
  finder.SetLocation(Base());
  finder.OnFound = [&](TFindFile&, const std::string&, TSearchRec&) { ++found; };
  finder.OnComplete = [&](TFindFile& sender) {
    if (++completed == 1) sender.Execute();
  };
  finder.Execute();
  EXPECT_EQ(found, 2);
  EXPECT_EQ(completed, 2);
}

// --- Worker form ----------------------------------------------------------------------------------------

TEST_F(FindFileTest, ThreadedEventsRunOnTheOwnerThreadOneAtATime) {
  for (int i = 0; i < 20; ++i) Touch(test::Numbered("d", i % 3).append(test::Numbered("/f", i)).append(".txt"));
  TFindFile finder;
  Recorder rec(finder);
  std::atomic<int> in_handler{0};
  bool overlapped = false;
  auto found = finder.OnFound;
  finder.OnFound = [&](TFindFile& f, const std::string& folder, TSearchRec& r) {
    if (in_handler.fetch_add(1) != 0) overlapped = true;
    found(f, folder, r);
    in_handler.fetch_sub(1);
  };
  finder.SetThreaded(true);
  finder.SetLocation(Base());
  finder.Execute();
  EXPECT_TRUE(finder.Busy());
  finder.Execute();  // ignored while running
  finder.WaitForCompletion();
  EXPECT_FALSE(finder.Busy());
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(rec.Count('F'), 20);
  EXPECT_EQ(rec.Count('C'), 1);
  EXPECT_EQ(rec.events.back(), "C");
  for (const auto& id : rec.threads) EXPECT_EQ(id, std::this_thread::get_id());

  // The same order as the in-call form.
  TFindFile plain;
  Recorder plain_rec(plain);
  plain.SetLocation(Base());
  plain.Execute();
  EXPECT_EQ(rec.events, plain_rec.events);

  // A new search after completion runs again.
  Recorder rec2(finder);
  finder.Execute();
  finder.WaitForCompletion();
  EXPECT_EQ(rec2.Count('F'), 20);
}

TEST_F(FindFileTest, ThreadedWorkerWaitsForTheOwner) {
  Touch("a.txt");
  Touch("b.txt");
  TFindFile finder;
  Recorder rec(finder);
  finder.SetThreaded(true);
  finder.SetLocation(Base());
  finder.Execute();
  // Nothing runs until the owner asks: the worker blocks on its first event.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(rec.events.empty());
  EXPECT_EQ(finder.WaitForEvents(5000), 1);
  EXPECT_EQ(rec.events, std::vector<std::string>{"N " + SlashedBase()});
  EXPECT_EQ(finder.WaitForEvents(5000), 1);
  EXPECT_EQ(rec.events.size(), 2u);
  // Properties changed now do not affect the running search.
  finder.SetFilename("*.none");
  int guard = 0;
  while (finder.Busy() && ++guard < 1000) finder.WaitForEvents(1000);
  EXPECT_EQ(rec.Count('F'), 2);
  EXPECT_EQ(finder.ProcessEvents(), 0);
  EXPECT_EQ(finder.WaitForEvents(0), 0);
}

TEST_F(FindFileTest, ThreadedIgnoreAnswerReachesTheWorker) {
  Touch("skip/a.txt");
  Touch("take/b.txt");
  TFindFile finder;
  Recorder rec(finder);
  finder.OnNewFolder = [&](TFindFile&, const std::string& folder, bool& ignore) { ignore = folder == dir_ / "skip"; };
  finder.SetThreaded(true);
  finder.SetThreadPriority(TThreadPriority::tpLower);
  finder.SetLocation(Base());
  finder.Execute();
  finder.SetThreadPriority(TThreadPriority::tpIdle);
  finder.WaitForCompletion();
  EXPECT_EQ(rec.Found(Base()), std::vector<std::string>{"/take/b.txt"});
}

TEST_F(FindFileTest, ThreadedHandlerErrorAndAbort) {
  for (int i = 0; i < 5; ++i) Touch(test::Numbered("f", i));
  TFindFile finder;
  int found = 0, completed = 0;
  finder.SetThreaded(true);
  finder.SetLocation(Base());
  finder.OnFound = [&](TFindFile&, const std::string&, TSearchRec&) {
    if (++found == 2) throw std::runtime_error("stop here");
  };
  finder.OnComplete = [&](TFindFile&) { ++completed; };
  finder.Execute();
  finder.WaitForCompletion();
  EXPECT_EQ(found, 2);
  EXPECT_EQ(completed, 1);
  EXPECT_EQ(finder.ErrorMessage(), "stop here");

  found = 0;
  finder.OnFound = [&](TFindFile& sender, const std::string&, TSearchRec&) {
    if (++found == 3) sender.Abort();
  };
  finder.Execute();
  finder.WaitForCompletion();
  EXPECT_EQ(found, 3);
  EXPECT_EQ(completed, 2);
  EXPECT_TRUE(finder.Aborted());
  EXPECT_EQ(finder.ErrorMessage(), "");
}

TEST_F(FindFileTest, DestroyingStopsTheWorkerWithoutHandlers) {
  for (int i = 0; i < 50; ++i) Touch("sub" + std::to_string(i % 5) + "/f" + std::to_string(i));
  int calls = 0;
  {
    TFindFile finder;
    finder.SetThreaded(true);
    finder.SetLocation(Base());
    finder.OnFound = [&](TFindFile&, const std::string&, TSearchRec&) { ++calls; };
    finder.OnComplete = [&](TFindFile&) { calls += 1000; };
    finder.Execute();
    finder.WaitForEvents(1000);  // runs OnNewFolder of the start folder
    finder.WaitForEvents(1000);
  }  // worker blocked on its next event: the destructor must cancel it, not hang
  EXPECT_LT(calls, 1000);
  {
    TFindFile finder;  // destroyed without ever being waited on
    finder.SetThreaded(true);
    finder.SetLocation(Base());
    finder.Execute();
  }
}

}  // namespace
}  // namespace kzb::findfile
