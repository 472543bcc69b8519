// Record list: lookup, set and remove semantics shared by packets, settings and job files.
#include "common/RecordList.h"

#include <gtest/gtest.h>

TEST(RecordList, LookupIgnoresCaseAndFindsOnlyTheFirstLineWithTheExactLabel) {
    TRecordList list;
    list.Add("REQ =BLANK");
    list.Add("NOEQUALS");
    list.Add("REQ=INF");
    list.Add("req=second");
    list.Add("EQ=a=b=c");
    EXPECT_EQ(list.Value("req"), "INF");
    EXPECT_EQ(list.IndexOf("REQ"), 2);
    EXPECT_EQ(list.Value("REQ "), "BLANK"); // the blank is part of that line's label
    EXPECT_EQ(list.Value("eq"), "a=b=c");
    EXPECT_EQ(list.Value("NOEQUALS"), ""); // a line without '=' is never found
    EXPECT_EQ(list.IndexOf("NOEQUALS"), -1);
    EXPECT_EQ(list.Value("MISSING"), "");
    EXPECT_EQ(list.Label(1), "");
    EXPECT_EQ(list.Label(4), "EQ");
}

TEST(RecordList, SetValueReplacesInPlaceAppendsOrRemoves) {
    TRecordList list;
    list.Add("A=1");
    list.Add("B=2");
    list.Add("b=3");
    list.SetValue("b", "20"); // replaces the first match in place, spelled as given
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A=1", "b=20", "b=3"}));
    list.SetValue("C", "x");
    EXPECT_EQ(list.Line(3), "C=x");
    list.SetValue("B", ""); // removes only the first match
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A=1", "b=3", "C=x"}));
    list.SetValue("NONE", ""); // nothing to remove
    EXPECT_EQ(list.Count(), 3u);
    list.Delete(0);
    EXPECT_EQ(list.Line(0), "b=3");
    TRecordList copy;
    copy.Assign(list);
    EXPECT_EQ(copy, list);
    list.Clear();
    EXPECT_TRUE(list.Empty());
    EXPECT_THROW(list.Delete(0), std::out_of_range);
}
