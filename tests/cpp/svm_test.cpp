// The SVM imputer's numeric core: training problems, parameters, the stored
// model record with its load-time checks, and the LIBSVM round trip.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "codec/state_codec.hpp"
#include "imputer/svm/libsvm_model.hpp"
#include "imputer/svm/svm_imputer.hpp"
#include "imputer/svm/svm_model_record.hpp"
#include "imputer/svm/svm_problem.hpp"

namespace norvale {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Nodes = std::vector<std::pair<int, double>>;

Nodes nodes_of(const SvmProblem& problem, std::size_t row) {
    Nodes out;
    for (const svm_node& node : problem.features(row)) out.emplace_back(node.index, node.value);
    return out;
}

// ---- training problems and parameters ----

TEST(SvmProblem, NumbersOtherColumnsWithoutGapAndOmitsZeros) {
    const Matrix original(3, 4, {1, 2, 0, 4,  //
                                 5, kNaN, 7, 0,  //
                                 9, 10, 11, 12});
    Matrix filled = original;
    filled(1, 1) = 6;
    const SvmProblem training = create_problem(filled, original, 1, false);
    ASSERT_EQ(training.size(), 2u);
    EXPECT_EQ(training.source_row(0), 0u);
    EXPECT_EQ(training.source_row(1), 2u);
    EXPECT_EQ(training.label(1), 10);
    // Column 0 is feature 1, columns 2 and 3 are features 2 and 3; the zero
    // in column 2 is left out; -1 closes each vector.
    EXPECT_EQ(nodes_of(training, 0), (Nodes{{1, 1}, {3, 4}, {-1, 0}}));
    EXPECT_EQ(nodes_of(training, 1), (Nodes{{1, 9}, {2, 11}, {3, 12}, {-1, 0}}));
    EXPECT_EQ(training.largest_index(), 3);

    const SvmProblem query = create_problem(filled, original, 1, true);
    ASSERT_EQ(query.size(), 1u);
    EXPECT_EQ(query.source_row(0), 1u);
    EXPECT_EQ(nodes_of(query, 0), (Nodes{{1, 5}, {2, 7}, {-1, 0}}));
}

TEST(SvmProblem, GammaIsOneOverTheLargestIndexOrZero) {
    const Matrix original(2, 3, {1, 2, 0,  //
                                 3, 0, 0});
    // Only feature 2 (column 1) is ever non-zero when predicting column 2.
    const auto parameters =
        training_parameters(kEpsilonSvr, kRbf, create_problem(original, original, 2, false));
    EXPECT_EQ(parameters.gamma, 0.5);
    EXPECT_EQ(parameters.svm_type, kEpsilonSvr);
    EXPECT_EQ(parameters.kernel_type, kRbf);
    EXPECT_EQ(parameters.degree, 3);
    EXPECT_EQ(parameters.cache_size, 100);
    EXPECT_EQ(parameters.eps, 0.001);
    EXPECT_EQ(parameters.C, 1);
    EXPECT_EQ(parameters.nr_weight, 0);
    EXPECT_EQ(parameters.nu, 0.5);
    EXPECT_EQ(parameters.p, 0.1);
    EXPECT_EQ(parameters.shrinking, 1);
    EXPECT_EQ(parameters.probability, 0);

    const Matrix single(3, 1, {1, 2, 3});
    const auto no_features = create_problem(single, single, 0, false);
    EXPECT_EQ(nodes_of(no_features, 0), (Nodes{{-1, 0}}));
    EXPECT_EQ(training_parameters(kCSvc, kLinear, no_features).gamma, 0.0);
}

// ---- the record checks ----

// A regression model as the imputer stores it: 3 support vectors.
SvmModelRecord regression_record() {
    SvmModelRecord record;
    record.svm_type.value = kEpsilonSvr;
    record.kernel_type.value = kRbf;
    record.gamma = 0.5;
    record.nr_class = 2;
    record.SV = {{{1, 0.5}, {3, 1.0}}, {{2, -1.0}}, {}};
    record.sv_coef = {{0.25, -0.5, 1.0}};
    record.rho = {0.1};
    record.sv_indices = {1, 4, 5};
    return record;
}

// A three-class C-SVC with one support vector per class.
SvmModelRecord classifier_record() {
    SvmModelRecord record = regression_record();
    record.svm_type.value = kCSvc;
    record.nr_class = 3;
    record.sv_coef = {{1, -1, 1}, {-1, 1, -1}};
    record.rho = {0.1, 0.2, 0.3};
    record.label = {0, 1, 2};
    record.nSV = {1, 1, 1};
    return record;
}

// A precomputed-kernel model whose vectors start with their serial number.
SvmModelRecord precomputed_record() {
    SvmModelRecord record = regression_record();
    record.kernel_type.value = kPrecomputed;
    record.SV = {{{0, 1}, {1, 0.5}}, {{0, 2}}, {{0, 3}}};
    return record;
}

struct BadRecord {
    const char* name;
    std::function<SvmModelRecord()> make;
    const char* text;  // after "model format error: "
};

template <class Edit>
std::function<SvmModelRecord()> edited(SvmModelRecord (*base)(), Edit edit) {
    return [base, edit] {
        SvmModelRecord record = base();
        edit(record);
        return record;
    };
}

const BadRecord kBadRecords[] = {
    {"degree", edited(regression_record, [](auto& r) { r.degree = -1; }),
     "degree must be >= 0, got -1"},
    {"gamma_nan", edited(regression_record, [](auto& r) { r.gamma = kNaN; }),
     "gamma must be finite, got NaN"},
    {"gamma_negative_rbf", edited(regression_record, [](auto& r) { r.gamma = -0.5; }),
     "gamma must be >= 0, got -0.5"},
    {"coef0_inf", edited(regression_record, [](auto& r) { r.coef0 = -kInf; }),
     "coef0 must be finite, got -inf"},
    {"regression_one_class", edited(regression_record, [](auto& r) { r.nr_class = 1; }),
     "nr_class must be >= 2, got 1"},
    // One class is accepted only together with the arrays such a model has.
    {"single_class_with_rho",
     edited(classifier_record,
            [](auto& r) {
                r.nr_class = 1;
                r.sv_coef = {};
                r.label = {0};
                r.nSV = {3};
                r.rho = {0.5};
            }),
     "nr_class must be >= 2, got 1"},
    {"classifier_zero_classes",
     edited(classifier_record,
            [](auto& r) {
                r.nr_class = 0;
                r.rho = {};
                r.sv_coef = {};
                r.label = {};
                r.nSV = {};
            }),
     "nr_class must be >= 2, got 0"},
    {"classes_beyond_int", edited(regression_record, [](auto& r) { r.nr_class = 1ull << 31; }),
     "nr_class must be <= 2147483647 for svm_type epsilon_svr, got 2147483648"},
    // svm_predict computes nr_class * (nr_class - 1) in int.
    {"class_pairs_beyond_int", edited(classifier_record, [](auto& r) { r.nr_class = 46342; }),
     "nr_class must be <= 46341 for svm_type c_svc, got 46342"},
    {"huge_class_count_no_overflow",
     edited(classifier_record, [](auto& r) { r.nr_class = UINT64_MAX; }),
     "nr_class must be <= 46341 for svm_type c_svc, got 18446744073709551615"},
    {"rho_regression", edited(regression_record, [](auto& r) { r.rho = {1, 2}; }),
     "rho has 2 entries, expected 1 for svm_type epsilon_svr"},
    {"rho_classifier", edited(classifier_record, [](auto& r) { r.rho = {1, 2}; }),
     "rho has 2 entries, expected 3 for svm_type c_svc"},
    {"label_classifier", edited(classifier_record, [](auto& r) { r.label = {0, 1}; }),
     "label has 2 entries, expected nr_class (3) for svm_type c_svc"},
    {"nr_sv_classifier", edited(classifier_record, [](auto& r) { r.nSV = {3}; }),
     "nr_sv has 1 entries, expected nr_class (3) for svm_type c_svc"},
    {"nr_sv_overflow", edited(classifier_record, [](auto& r) { r.nSV = {UINT64_MAX, 1, 1}; }),
     "nr_sv entries overflow usize when summed"},
    {"nr_sv_sum",
     edited(classifier_record,
            [](auto& r) {
                r.svm_type.value = kNuSvc;
                r.nr_class = 2;
                r.rho = {0};
                r.sv_coef = {{1, 1, 1}};
                r.label = {0, 1};
                r.nSV = {2, 2};
            }),
     "sum of nr_sv entries (4) does not match total_sv (3)"},
    {"label_on_regression", edited(regression_record, [](auto& r) { r.label = {1}; }),
     "label is only valid for classification, got 1 entries on svm_type epsilon_svr"},
    {"nr_sv_on_one_class",
     edited(regression_record,
            [](auto& r) {
                r.svm_type.value = kOneClass;
                r.nSV = {3};
            }),
     "nr_sv is only valid for classification, got 1 entries on svm_type one_class"},
    {"probA_classifier", edited(classifier_record, [](auto& r) { r.probA = {0.5}; }),
     "probA has 1 entries, expected 3"},
    {"probB_regression", edited(regression_record, [](auto& r) { r.probB = {1, 2}; }),
     "probB has 2 entries, expected 1"},
    {"density_marks_on_svr",
     edited(regression_record, [](auto& r) { r.prob_density_marks = {0.5, 0.6}; }),
     "prob_density_marks is only valid for one-class SVM, got 2 entries on svm_type epsilon_svr"},
    {"sv_coef_rows", edited(classifier_record, [](auto& r) { r.sv_coef.pop_back(); }),
     "sv_coef has 1 rows, expected 2"},
    // The length is checked before any value of the row.
    {"sv_coef_row_length", edited(regression_record, [](auto& r) { r.sv_coef = {{kNaN, 1}}; }),
     "sv_coef row 0 has 2 entries, expected 3"},
    {"sv_coef_value", edited(regression_record, [](auto& r) { r.sv_coef[0][2] = kInf; }),
     "sv_coef must be finite, got inf"},
    {"rho_value", edited(regression_record, [](auto& r) { r.rho = {kNaN}; }),
     "rho must be finite, got NaN"},
    {"probA_value", edited(regression_record, [](auto& r) { r.probA = {kNaN}; }),
     "probA must be finite, got NaN"},
    {"probB_value", edited(regression_record, [](auto& r) { r.probB = {-kInf}; }),
     "probB must be finite, got -inf"},
    {"density_mark_value",
     edited(regression_record,
            [](auto& r) {
                r.svm_type.value = kOneClass;
                r.prob_density_marks = {1, kNaN};
            }),
     "prob_density_marks must be finite, got NaN"},
    {"first_feature_value", edited(regression_record, [](auto& r) { r.SV[1][0].second = kNaN; }),
     "feature value must be finite, got NaN"},
    {"indices_ascending", edited(regression_record, [](auto& r) { r.SV[1] = {{1, 1}, {3, 1}, {3, 1}}; }),
     "support vector 2 feature indices must be ascending: 3 follows 3"},
    {"later_feature_value", edited(regression_record, [](auto& r) { r.SV[0][1].second = kInf; }),
     "feature value must be finite, got inf"},
    {"precomputed_empty", edited(precomputed_record, [](auto& r) { r.SV[2] = {}; }),
     "line 3: precomputed kernel support vector is missing 0:sample_serial_number"},
    {"precomputed_fraction", edited(precomputed_record, [](auto& r) { r.SV[0] = {{0, 2.5}}; }),
     "line 1: precomputed kernel support vector must start with 0:sample_serial_number"},
    {"precomputed_index", edited(precomputed_record, [](auto& r) { r.SV[1] = {{1, 2}}; }),
     "line 2: precomputed kernel support vector must start with 0:sample_serial_number"},
    {"precomputed_below_one", edited(precomputed_record, [](auto& r) { r.SV[1] = {{0, 0}}; }),
     "line 2: precomputed kernel support vector must start with 0:sample_serial_number"},
    // Support vectors are checked one after the other, each in full.
    {"node_checks_before_precomputed",
     edited(precomputed_record, [](auto& r) { r.SV[0] = {{0, 0.5}, {0, 1}}; }),
     "support vector 1 feature indices must be ascending: 0 follows 0"},
};

class RecordChecks : public testing::TestWithParam<BadRecord> {};

TEST_P(RecordChecks, FirstFailingCheckNamesTheField) {
    const auto result = SvmModelRecord::check(GetParam().make());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), std::string("model format error: ") + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Svm, RecordChecks, testing::ValuesIn(kBadRecords),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordChecksPass, ValidRecordsLoad) {
    EXPECT_TRUE(validate_model(regression_record()));
    EXPECT_TRUE(validate_model(classifier_record()));
    EXPECT_TRUE(validate_model(precomputed_record()));
    // gamma is only held to >= 0 by the kernels that use it.
    auto linear = regression_record();
    linear.kernel_type.value = kLinear;
    linear.gamma = -0.5;
    EXPECT_TRUE(validate_model(linear));
    // Probability arrays may be empty or hold one entry per rho.
    auto probabilities = classifier_record();
    probabilities.probA = {1, 2, 3};
    probabilities.probB = {1, 2, 3};
    EXPECT_TRUE(validate_model(probabilities));
    auto one_class = regression_record();
    one_class.svm_type.value = kOneClass;
    one_class.prob_density_marks = {0.1, 0.2};
    EXPECT_TRUE(validate_model(one_class));
    // A classifier trained on one label has no class pairs at all.
    auto single = classifier_record();
    single.nr_class = 1;
    single.rho = {};
    single.sv_coef = {};
    single.label = {4};
    single.nSV = {3};
    EXPECT_TRUE(validate_model(single));
}

// ---- reading and writing ----

std::vector<std::byte> with_code_at(const SvmModelRecord& record, std::size_t offset,
                                    std::int32_t code) {
    auto bytes = codec::encode(record);
    std::memcpy(bytes.data() + offset, &code, sizeof code);
    return bytes;
}

TEST(SvmRecordCodec, RoundTripsAndChecksCodesAsRead) {
    const auto record = classifier_record();
    const auto bytes = codec::encode(record);
    auto decoded = codec::decode<SvmModelRecord>(bytes);
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(*decoded, record);

    EXPECT_EQ(codec::decode<SvmModelRecord>(with_code_at(record, 0, 5)).error(),
              "unknown SvmType code 5");
    EXPECT_EQ(codec::decode<SvmModelRecord>(with_code_at(record, 0, -1)).error(),
              "unknown SvmType code -1");
    EXPECT_EQ(codec::decode<SvmModelRecord>(with_code_at(record, 4, 7)).error(),
              "unknown KernelType code 7");
    // The kernel code is read only once the SVM type has passed.
    auto both = with_code_at(record, 0, 9);
    std::int32_t kernel = 9;
    std::memcpy(both.data() + 4, &kernel, 4);
    EXPECT_EQ(codec::decode<SvmModelRecord>(both).error(), "unknown SvmType code 9");

    auto bad = record;
    bad.rho = {1, 2};
    EXPECT_EQ(codec::decode<SvmModelRecord>(codec::encode(bad)).error(),
              "model format error: rho has 2 entries, expected 3 for svm_type c_svc");
}

// ---- LIBSVM round trip ----

struct TrainedFixture {
    Matrix data;
    SvmProblem problem;
    svm_parameter parameters;
    svm_model* model = nullptr;

    TrainedFixture(Matrix table, int svm_type, int kernel) : data(std::move(table)) {
        problem = create_problem(data, data, 0, false);
        parameters = training_parameters(svm_type, kernel, problem);
        const svm_problem view = problem.view();
        model = svm_train(&view, &parameters);
    }
    ~TrainedFixture() { svm_free_and_destroy_model(&model); }
};

Matrix labelled_table(int classes) {
    std::vector<double> cells;
    for (int row = 0; row < 24; ++row) {
        const int label = row % classes;
        cells.insert(cells.end(), {double(label), label + 0.1 * (row % 5), 1.0 - label * 0.3 + 0.05 * row});
    }
    return Matrix(24, 3, std::move(cells));
}

class LibsvmRoundTrip : public testing::TestWithParam<std::tuple<int, int, int>> {};

// A record copied from a trained model, validated and reassembled, predicts
// exactly what the trained model predicts.
TEST_P(LibsvmRoundTrip, ReassembledModelPredictsLikeTheTrainedOne) {
    const auto [svm_type, kernel, classes] = GetParam();
    svm_set_print_string_function([](const char*) {});
    TrainedFixture trained(labelled_table(classes), svm_type, kernel);
    const SvmModelRecord record = record_from_libsvm(*trained.model);
    EXPECT_EQ(record.nr_class, svm_type == kCSvc ? std::uint64_t(classes) : 2u);
    EXPECT_EQ(record.gamma, 0.5);
    ASSERT_TRUE(validate_model(record)) << validate_model(record).error();
    auto decoded = codec::decode<SvmModelRecord>(codec::encode(record));
    ASSERT_TRUE(decoded) << decoded.error();

    const LibsvmModel reassembled(*decoded);
    for (std::size_t row = 0; row < trained.problem.size(); ++row) {
        const auto features = trained.problem.features(row);
        EXPECT_EQ(reassembled.predict(features), svm_predict(trained.model, features.data()));
    }
}

INSTANTIATE_TEST_SUITE_P(Svm, LibsvmRoundTrip,
                         testing::Values(std::tuple{kEpsilonSvr, kLinear, 3},
                                         std::tuple{kEpsilonSvr, kRbf, 3},
                                         std::tuple{kCSvc, kPolynomial, 3},
                                         std::tuple{kCSvc, kSigmoid, 2},
                                         std::tuple{kCSvc, kRbf, 1}));

// ---- the imputer ----

TEST(SVMImputer, FillsOnlyMissingCellsAndRefusesPrecomputedModels) {
    auto created = SVMImputer::create("linear", std::nullopt);
    ASSERT_TRUE(created);
    SVMImputer imputer = std::move(*created);
    Matrix data = labelled_table(3);
    data(2, 1) = kNaN;
    data(5, 0) = kNaN;
    ASSERT_TRUE(imputer.fit(data, std::nullopt));
    ASSERT_EQ(imputer.models.size(), 3u);
    for (const auto& model : imputer.models) EXPECT_EQ(model.svm_type.value, kEpsilonSvr);

    auto filled = imputer.impute(data);
    ASSERT_TRUE(filled);
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (std::isnan(data.cells()[i]))
            EXPECT_FALSE(std::isnan(filled->cells()[i]));
        else
            EXPECT_EQ(filled->cells()[i], data.cells()[i]);
    }

    imputer.models[1] = precomputed_record();
    const auto refused = imputer.impute(data);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().python_class(), PythonClass::ValueError);
}

// The lists of an earlier labelled fit stay stored, but a table without
// label-encoding information holds no strings: column 2 of the first fit
// is beyond the second table and must not steer its fill or model types.
TEST(SVMImputer, NumericRefitKeepsListsButRegressesEveryColumn) {
    SVMImputer imputer = *SVMImputer::create("linear", "label");
    Matrix labelled = labelled_table(3);
    labelled(4, 2) = kNaN;
    ASSERT_TRUE(imputer.fit(labelled, std::vector<std::uint64_t>{0}));
    EXPECT_EQ(imputer.models[0].svm_type.value, kCSvc);
    EXPECT_EQ(imputer.models[1].svm_type.value, kEpsilonSvr);

    ASSERT_TRUE(imputer.fit(labelled, std::vector<std::uint64_t>{2}));
    Matrix numeric(4, 2, {1, 2, kNaN, 3, 5, 1, 2, kNaN});
    ASSERT_TRUE(imputer.fit(numeric, std::nullopt));
    EXPECT_EQ(imputer.cat_cols, (std::vector<std::uint64_t>{2}));
    EXPECT_EQ(imputer.num_cols, (std::vector<std::uint64_t>{0, 1}));
    ASSERT_EQ(imputer.models.size(), 2u);
    for (const auto& model : imputer.models) EXPECT_EQ(model.svm_type.value, kEpsilonSvr);
    EXPECT_EQ(*imputer.init.sample_means, (std::vector<double>{8.0 / 3, 2.0}));
}

TEST(SVMImputer, PrecomputedKernelNeverTrains) {
    SVMImputer imputer = *SVMImputer::create("linear", std::nullopt);
    imputer.kernel.value = kPrecomputed;
    const auto result = imputer.fit(labelled_table(2), std::nullopt);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().render(),
              "Failed to train SVM at column: 0 because a precomputed kernel cannot train on "
              "feature vectors");
    EXPECT_TRUE(imputer.models.empty());
    EXPECT_FALSE(imputer.is_fitted);
}

TEST(SVMImputer, UnknownKernelNamesTheSupportedOnes) {
    const auto result = SVMImputer::create("precomputed", std::nullopt);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().render(),
              "SVM.Kernel: [precomputed] is not supportedSupported values: [\"linear\", \"rbf\", "
              "\"sigmoid\", \"polynomial\"]");
}

}  // namespace
}  // namespace norvale
