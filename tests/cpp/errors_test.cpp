#include "utils/errors.hpp"

#include <array>
#include <string_view>

#include <gtest/gtest.h>

#include "utils/encoding.hpp"

namespace norvale {
namespace {

constexpr std::array<std::string_view, 2> kTwo{"label", "None"};

struct RenderCase {
    const char* name;
    Errors (*make)();
    const char* text;
    PythonClass python_class;
};

const RenderCase kRenderCases[] = {
    {"not_fitted", [] { return Errors::not_fitted(); },
     "This imputer is not fitted. Call fit before transform.", PythonClass::RuntimeError},
    {"invalid_operation", [] { return Errors::invalid_operation("computing argmax on empty array!"); },
     "Not a valid operation: computing argmax on empty array!", PythonClass::RuntimeError},
    {"unsupported_without_list", [] { return Errors::unsupported_value("cosine", "Knn.Metric"); },
     "Knn.Metric: [cosine] is not supported", PythonClass::ValueError},
    {"unsupported_with_list",
     [] { return Errors::unsupported_value("Label", "LabelEncoding", kTwo); },
     "LabelEncoding: [Label] is not supportedSupported values: [\"label\", \"None\"]",
     PythonClass::ValueError},
    {"shape_mismatch", [] { return Errors::shape_mismatch("IncompatibleShape", "3 != 4"); },
     "Shape Mismatch: 3 != 4", PythonClass::ValueError},
    {"least_squares", [] { return Errors::least_squares("LAPACK returned 2"); },
     "Unable to compute least squares solution! LAPACK returned 2", PythonClass::RuntimeError},
    {"svm_training", [] { return Errors::svm_training(3, "bad gamma"); },
     "Failed to train SVM at column: 3 because bad gamma", PythonClass::RuntimeError},
};

class ErrorRendering : public testing::TestWithParam<RenderCase> {};

TEST_P(ErrorRendering, TextAndClass) {
    const Errors error = GetParam().make();
    EXPECT_EQ(error.render(), GetParam().text);
    EXPECT_EQ(error.python_class(), GetParam().python_class);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, ErrorRendering, testing::ValuesIn(kRenderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorKinds, IndexFollowsDeclarationOrder) {
    EXPECT_EQ(Errors::not_fitted().kind_index(), 0u);
    EXPECT_EQ(Errors::svm_training(0, "").kind_index(), 5u);
}

TEST(Propagation, AssignOrReturnPassesTheFirstErrorThrough) {
    auto inner = [](bool fail) -> Result<int> {
        if (fail) return std::unexpected(Errors::not_fitted());
        return 41;
    };
    auto outer = [&](bool fail) -> Result<int> {
        NV_ASSIGN_OR_RETURN(int value, inner(fail));
        return value + 1;
    };
    EXPECT_EQ(*outer(false), 42);
    ASSERT_FALSE(outer(true).has_value());
    EXPECT_EQ(outer(true).error().kind_index(), 0u);
}

struct EncodingCase {
    std::optional<std::string_view> option;
    bool accepted;
};

class EncodingOption : public testing::TestWithParam<EncodingCase> {};

TEST_P(EncodingOption, OnlyNoneAndExactLabelAreAccepted) {
    const auto parsed = process_labelencoding(GetParam().option);
    ASSERT_EQ(parsed.has_value(), GetParam().accepted);
    if (!GetParam().accepted) {
        EXPECT_EQ(parsed.error().render(),
                  std::string("LabelEncoding: [") + std::string(*GetParam().option) +
                      "] is not supportedSupported values: [\"label\", \"None\"]");
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, EncodingOption,
                         testing::Values(EncodingCase{std::nullopt, true},
                                         EncodingCase{"label", true}, EncodingCase{"Label", false},
                                         EncodingCase{"None", false}, EncodingCase{"", false},
                                         EncodingCase{"label ", false}),
                         [](const auto& info) { return "option_" + std::to_string(info.index); });

TEST(EncodingWarn, QuotesTheSentenceAndBracketsTheName) {
    EXPECT_EQ(encoding_warn("ConstantImputer"),
              "\"Encoding Parameter is passed, but categorical handling is incomplete\" "
              "[ConstantImputer]");
}

}  // namespace
}  // namespace norvale
