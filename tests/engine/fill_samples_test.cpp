// The six sample fills computed independently of this code (tests/data/fill-samples), each
// reproduced byte for byte. The per-step trace of every sample is compared too, so that a
// departure names the first step and value that differ instead of only a wrong image.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/png_read.h"

namespace mendora {
namespace {

using nlohmann::json;
using testing::readPng;

struct TraceCheck {
    std::vector<json> expected; // one object per step
    FillSetupTrace setup{};
    bool setupSeen = false;
    int32_t steps = 0;
    std::string firstDeparture; // empty while every step agrees
};

std::string describeDeparture(int32_t step, const std::string& field, const json& want,
                              const json& got) {
    std::ostringstream out;
    out << "step " << step << ": " << field << " expected " << want.dump() << " got " << got.dump();
    return out.str();
}

void checkStep(const FillStepTrace& s, void* context) {
    auto* check = static_cast<TraceCheck*>(context);
    const int32_t step = check->steps++;
    if (!check->firstDeparture.empty())
        return;
    if (step >= static_cast<int32_t>(check->expected.size())) {
        check->firstDeparture = "step " + std::to_string(step) + " beyond the recorded trace";
        return;
    }
    const json& want = check->expected[step];
    const std::vector<std::pair<std::string, json>> got = {
        {"x0", s.x0},
        {"y0", s.y0},
        {"priority", s.priority},
        {"extents", {s.left, s.right, s.up, s.down}},
        {"window_confidence", s.windowConfidence},
        {"J", s.unknownCount},
        {"estimates", std::vector<int32_t>(s.estimates, s.estimates + s.unknownCount)},
        {"query", std::vector<double>(s.query, s.query + s.coefficientCount)},
        {"returned", std::vector<int32_t>(s.returned, s.returned + s.returnedCount)},
        {"best", {s.bestX, s.bestY}},
        {"best_difference", s.bestDifference},
        {"best_sq_distance", s.bestSquaredDistance},
        {"copied", s.copied},
    };
    for (const auto& [field, value] : got)
        if (want.at(field) != value) {
            check->firstDeparture = describeDeparture(step, field, want.at(field), value);
            return;
        }
}

void recordSetup(const FillSetupTrace& setup, void* context) {
    auto* check = static_cast<TraceCheck*>(context);
    check->setup = setup;
    check->setupSeen = true;
}

json readJson(const std::string& path) {
    std::ifstream in(path);
    return json::parse(in);
}

class SampleFill : public ::testing::TestWithParam<const char*> {};

TEST_P(SampleFill, ReproducesImageAndTrace) {
    const std::string dir = std::string(MENDORA_TEST_DATA) + "/fill-samples/" + GetParam();
    const json sample = readJson(dir + "/case.json");
    const auto input = readPng(dir + "/in.png");
    const auto mask = readPng(dir + "/mask.png");
    const auto expected = readPng(dir + "/expected.png");
    ASSERT_EQ(input.channels, 3);
    ASSERT_EQ(mask.channels, 1);
    ASSERT_EQ(input.width, sample.at("width").get<int32_t>());
    ASSERT_EQ(input.height, sample.at("height").get<int32_t>());

    TraceCheck check;
    std::ifstream traceFile(dir + "/trace.jsonl");
    for (std::string line; std::getline(traceFile, line);)
        if (!line.empty())
            check.expected.push_back(json::parse(line));

    const json& p = sample.at("parameters");
    FillParameters params{p.at("sourceLeft").get<int16_t>(), p.at("sourceTop").get<int16_t>(),
                          p.at("sourceRight").get<int16_t>(), p.at("sourceBottom").get<int16_t>(),
                          p.at("patchRadius").get<int16_t>()};
    std::vector<uint8_t> output = input.data;
    setFillTraceHooks(recordSetup, checkStep, &check);
    const FillOutcome outcome = fillImage(input.width, input.height, input.data.data(),
                                          output.data(), mask.data.data(), mask.width, params);
    setFillTraceHooks(nullptr, nullptr, nullptr);

    EXPECT_EQ(outcome, FillOutcome::filled);
    EXPECT_EQ(check.firstDeparture, "");
    ASSERT_TRUE(check.setupSeen);
    EXPECT_EQ(check.setup.radius, sample.at("radius").get<int32_t>());
    EXPECT_EQ(check.setup.coefficientCount, sample.at("coefficient_count").get<int32_t>());
    EXPECT_EQ(check.setup.k, sample.at("k").get<int32_t>());
    EXPECT_EQ(check.setup.candidates, sample.at("candidates").get<int32_t>());
    EXPECT_EQ(check.setup.initialFront, sample.at("initial_front").get<int32_t>());
    EXPECT_EQ(check.steps, sample.at("steps").get<int32_t>());
    const json& corrected = sample.at("corrected_source");
    EXPECT_EQ(params.sourceLeft, corrected.at(0).get<int16_t>());
    EXPECT_EQ(params.sourceTop, corrected.at(1).get<int16_t>());
    EXPECT_EQ(params.sourceRight, corrected.at(2).get<int16_t>());
    EXPECT_EQ(params.sourceBottom, corrected.at(3).get<int16_t>());

    int32_t differing = 0, filled = 0;
    for (size_t i = 0; i < output.size(); i += 3) {
        differing += output[i] != expected.data[i] || output[i + 1] != expected.data[i + 1] ||
                     output[i + 2] != expected.data[i + 2];
        filled += mask.data[i / 3] != 0;
    }
    EXPECT_EQ(differing, 0) << "pixels that differ from expected.png";
    EXPECT_EQ(filled, sample.at("filled_pixels").get<int32_t>());
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleFill,
                         ::testing::Values("custom_source_r3", "edges_corners_r2", "feathered_r4",
                                           "few_candidates_r2", "noise_large_r4", "stripes_r4"));

} // namespace
} // namespace mendora
