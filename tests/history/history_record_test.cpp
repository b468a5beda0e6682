#include "history/history_record.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

history::HistoryRecord Sample() {
  history::HistoryRecord record;
  record.timeUtc = "2024-02-29T12:34:56Z";
  record.programVersion = "1.0.0";
  record.serial = "VRQ0001";
  record.portPath = "1-1.4";
  record.packageFile = "update.fwp";
  record.packageSha256 = std::string(64, 'a');
  record.packageVersion = "V2.13";
  record.status = "success";
  record.exitStatus = 0;
  record.message = "Update Success!";
  record.totalSeconds = 95.25;
  record.writingSeconds = 61.5;
  return record;
}

TEST(HistoryRecord, OneLineInTheContractsOrderThatReadsBackTheSame) {
  const history::HistoryRecord record = Sample();
  EXPECT_EQ(history::RecordJson(record),
            R"({"schema":1,"record":"update","time_utc":"2024-02-29T12:34:56Z",)"
            R"("program_version":"1.0.0","printer":{"serial":"VRQ0001","port_path":"1-1.4"},)"
            R"("package":{"file":"update.fwp","sha256":")" +
                std::string(64, 'a') +
                R"(","version":"V2.13"},"status":"success","exit_status":0,)"
                R"("message":"Update Success!","durations":{"total":95.25,"writing":61.5}})");
  const history::ParsedRecord parsed = history::ParseRecordJson(history::RecordJson(record));
  EXPECT_EQ(parsed.problem, "");
  ASSERT_TRUE(parsed.record);
  EXPECT_EQ(*parsed.record, record);

  // What is not known is null or left out, and reads back as not known.
  history::HistoryRecord bare = Sample();
  bare.packageSha256.reset();
  bare.writingSeconds.reset();
  bare.message.reset();
  bare.serial.clear();
  bare.status = "failed";
  bare.exitStatus = 1;
  bare.totalSeconds = 1.23456;
  const std::string line = history::RecordJson(bare);
  EXPECT_NE(line.find(R"("sha256":null)"), std::string::npos);
  EXPECT_NE(line.find(R"("durations":{"total":1.235,"writing":null})"), std::string::npos);
  EXPECT_EQ(line.find("message"), std::string::npos);
  bare.totalSeconds = 1.235;
  EXPECT_EQ(history::ParseRecordJson(line).record, bare);
}

TEST(HistoryRecord, BytesThatAreNotUtf8AndControlCharactersStayOneLineOfJson) {
  history::HistoryRecord record = Sample();
  record.serial = "A\xff\xfe";
  record.packageFile = "new\nline\t\"quoted\".fwp";
  record.packageVersion = "caf\xc3\xa9 \xe9";  // UTF-8, then a Latin-1 byte
  const std::string line = history::RecordJson(record);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const history::ParsedRecord parsed = history::ParseRecordJson(line);
  ASSERT_TRUE(parsed.record) << parsed.problem;
  EXPECT_EQ(parsed.record->serial, "A\\xFF\\xFE");
  EXPECT_EQ(parsed.record->packageVersion, "caf\xc3\xa9 \\xE9");
  EXPECT_EQ(parsed.record->packageFile, record.packageFile);
}

TEST(HistoryRecord, StoredTextsOfDifferentBytesDiffer) {
  // Two serial numbers that differ only in a byte that is not UTF-8 stay two printers,
  // and the text "\xFF" stays apart from the byte 0xFF.
  EXPECT_EQ(history::StoredText("A\xff"), "A\\xFF");
  EXPECT_NE(history::StoredText("A\xff"), history::StoredText("A\xfe"));
  EXPECT_EQ(history::StoredText("A\\xFF"), "A\\\\xFF");
  EXPECT_NE(history::StoredText("A\\xFF"), history::StoredText("A\xff"));
  // Broken sequences: a lead byte without its continuation, an overlong form, a surrogate.
  EXPECT_EQ(history::StoredText("\xc3("), "\\xC3(");
  EXPECT_EQ(history::StoredText("\xc0\xaf"), "\\xC0\\xAF");
  EXPECT_EQ(history::StoredText("\xed\xa0\x80"), "\\xED\\xA0\\x80");
  EXPECT_EQ(history::StoredText("plain 1-1.4 \xe2\x82\xac"), "plain 1-1.4 \xe2\x82\xac");
}

TEST(HistoryRecord, LinesOfAnotherShapeSayWhatIsWrong) {
  std::string good = history::RecordJson(Sample());
  auto problem = [](const std::string& line) { return history::ParseRecordJson(line).problem; };
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string line = good;
    line.replace(line.find(from), from.size(), to);
    return line;
  };
  EXPECT_EQ(problem("{\"schema\":1,"), "not JSON");
  EXPECT_EQ(problem(""), "not JSON");
  EXPECT_EQ(problem("[1,2]"), "not a JSON object");
  EXPECT_EQ(problem(replaced(R"("schema":1)", R"("schema":2)")), "schema is not 1");
  EXPECT_EQ(problem(replaced(R"("record":"update")", R"("record":"make")")),
            "record is not \"update\"");
  EXPECT_EQ(problem(replaced("12:34:56Z", "12:34:56")), "time_utc is no UTC time");
  EXPECT_EQ(problem(replaced(R"("status":"success")", R"("status":"done")")),
            "status is not known");
  EXPECT_EQ(problem(replaced(R"("status":"success",)", "")), "status is missing");
  EXPECT_EQ(problem(replaced(R"("exit_status":0)", R"("exit_status":300)")),
            "exit_status is not an exit status");
  EXPECT_EQ(problem(replaced(R"("exit_status":0)", R"("exit_status":0.5)")),
            "exit_status is not an exit status");
  EXPECT_EQ(problem(replaced(R"("serial":"VRQ0001")", R"("serial":7)")),
            "printer.serial is not a text");
  EXPECT_EQ(problem(replaced(std::string(64, 'a'), std::string(64, 'A'))),
            "package.sha256 is not a SHA-256");
  EXPECT_EQ(problem(replaced(R"("total":95.25)", R"("total":-1)")),
            "durations.total is not a number of seconds");
  EXPECT_EQ(problem(replaced(R"("printer":{)", R"("printer":7,"x":{)")),
            "printer is not an object");
  // A member this version does not know is passed over.
  EXPECT_EQ(problem(replaced(R"("status")", R"("later":[1],"status")")), "");
}

TEST(HistoryRecord, WhatMayBeWritten) {
  EXPECT_EQ(history::CheckRecord(Sample()), "");
  auto check = [](auto change) {
    history::HistoryRecord record = Sample();
    change(record);
    return history::CheckRecord(record);
  };
  EXPECT_EQ(check([](auto& r) { r.status = "Success"; }), "the status \"Success\" is not known");
  EXPECT_EQ(check([](auto& r) { r.exitStatus = 256; }), "the exit status 256 is out of range");
  EXPECT_EQ(check([](auto& r) { r.timeUtc = "2024-02-29 12:34:56"; }),
            "the time \"2024-02-29 12:34:56\" is no UTC time");
  EXPECT_EQ(check([](auto& r) { r.programVersion.clear(); }), "the program version is missing");
  EXPECT_NE(check([](auto& r) { r.packageSha256 = "abc"; }), "");
  EXPECT_NE(check([](auto& r) { r.writingSeconds = -0.5; }), "");
  EXPECT_NE(check([](auto& r) { r.totalSeconds = std::numeric_limits<double>::infinity(); }), "");
}

TEST(HistoryRecord, TimesAreUtcToTheSecond) {
  using std::chrono::system_clock;
  EXPECT_EQ(history::UtcTimeText(system_clock::from_time_t(0)), "1970-01-01T00:00:00Z");
  EXPECT_EQ(
      history::UtcTimeText(system_clock::from_time_t(1709210096) + std::chrono::milliseconds(999)),
      "2024-02-29T12:34:56Z");
  EXPECT_EQ(history::UtcTimeText(system_clock::from_time_t(4102444800)), "2100-01-01T00:00:00Z");
  EXPECT_EQ(history::CheckRecord([] {
              history::HistoryRecord record = Sample();
              record.timeUtc = history::UtcNow();
              return record;
            }()),
            "");
}

}  // namespace
