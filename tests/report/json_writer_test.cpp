#include "report/json_writer.h"

#include <gtest/gtest.h>

#include <sstream>

namespace hivewise {
namespace {

TEST(JsonWriter, NestsIndentsAndSeparates) {
    std::ostringstream out;
    {
        JsonWriter json(out);
        json.BeginObject();
        json.Key("archive").HostText("a b.zip");
        json.Key("items").BeginArray();
        json.BeginObject().Key("n").Number(1).Key("ok").Bool(true).EndObject();
        json.BeginObject().Key("n").Number(-2).Key("ok").Null().EndObject();
        json.EndArray();
        json.Key("none").BeginArray().EndArray();
        json.Key("empty").BeginObject().EndObject();
        json.EndObject();
    }
    EXPECT_EQ(out.str(),
              "{\n"
              "  \"archive\": \"a b.zip\",\n"
              "  \"items\": [\n"
              "    {\n"
              "      \"n\": 1,\n"
              "      \"ok\": true\n"
              "    },\n"
              "    {\n"
              "      \"n\": -2,\n"
              "      \"ok\": null\n"
              "    }\n"
              "  ],\n"
              "  \"none\": [],\n"
              "  \"empty\": {}\n"
              "}\n");
}

TEST(JsonWriter, TextFromOutsideStaysValid) {
    std::ostringstream out;
    {
        JsonWriter json(out);
        json.BeginArray().Text("Caf\xE9\x1B").HostText("\xC0\xAF").EndArray();
    }
    EXPECT_EQ(out.str(), "[\n  \"Caf\xC3\xA9\\u001b\",\n  \"\xC3\x80\xC2\xAF\"\n]\n");
}

}  // namespace
}  // namespace hivewise
