#include <gtest/gtest.h>

#include <string>

#include "service/console_events.h"
#include "service/event_log.h"

TEST(EventSource, KeyBelowTheApplicationLogOnlyForAOneKeyName) {
  EXPECT_EQ(eventSourceKeyPath("My Svc"),
            "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\My Svc");
  // A name that would reach another key (or the log itself) is refused.
  for (const char* bad : {"", "a\\b", "..\\System", "a/b"}) {
    EXPECT_FALSE(eventSourceKeyPath(bad).has_value()) << bad;
  }
}

TEST(EventText, LineFeedsBecomeCrLfAndLongTextsAreCut) {
  struct Case {
    std::string message, entry;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"a\nb", "a\r\nb"},
      {"a\r\nb", "a\r\nb"},  // a configured text keeps its own CR LF
      {"text\n\nLog: c:\\t\\brd_nlog_1", "text\r\n\r\nLog: c:\\t\\brd_nlog_1"},
      {"\n", "\r\n"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(eventText(c.message), c.entry) << c.message;

  std::string lines;
  while (lines.size() < 2 * kMaxEventTextBytes) lines += "x\n";
  std::string cut = eventText(lines);
  EXPECT_LE(cut.size(), kMaxEventTextBytes);
  EXPECT_GE(cut.size(), kMaxEventTextBytes - 2);
  EXPECT_NE(cut.back(), '\r');  // never half a line break
  std::string crlf = "x";  // puts a CR on the last byte that fits
  while (crlf.size() < 2 * kMaxEventTextBytes) crlf += "ab\r\n";
  EXPECT_NE(eventText(crlf).back(), '\r');
}

TEST(EventText, StartAndStopNameTheRuntimeAndTheLibrary) {
  std::string started = serviceStartedText("Svc", "c:\\jre\\bin\\java.exe",
                                           "c:\\jre\\bin\\server\\jvm.dll");
  std::string stopped = serviceStoppedText("Svc", "c:\\jre\\bin\\java.exe",
                                           "c:\\jre\\bin\\server\\jvm.dll");
  for (const std::string& text : {started, stopped}) {
    EXPECT_NE(text.find("'Svc'"), std::string::npos) << text;
    EXPECT_NE(text.find("c:\\jre\\bin\\java.exe"), std::string::npos) << text;
    EXPECT_NE(text.find("c:\\jre\\bin\\server\\jvm.dll"), std::string::npos) << text;
  }
  EXPECT_NE(started.find("started"), std::string::npos);
  EXPECT_NE(stopped.find("stopped"), std::string::npos);
  EXPECT_NE(started, stopped);
}

TEST(ConsoleEvents, CtrlCBreakAndCloseStopOnlyCloseLikeEventsWait) {
  struct Case {
    uint32_t event;
    bool stop, wait;
  };
  const Case cases[] = {
      {console_event::kCtrlC, true, false},   {console_event::kCtrlBreak, true, false},
      {console_event::kClose, true, true},    {console_event::kLogoff, true, true},
      {console_event::kShutdown, true, true}, {3, false, false},
      {7, false, false},
  };
  for (const Case& c : cases) {
    ConsoleEventAction a = consoleEventAction(c.event);
    EXPECT_EQ(a.stop, c.stop) << c.event;
    EXPECT_EQ(a.waitForExit, c.wait) << c.event;
  }
}
