#pragma once
// The experimental forest imputer: one forest per column predicts that column
// from the mean-filled other columns. Its forests hold no trees yet, so the
// predictions are constant. Only cells missing in the input take a
// prediction; observed cells always come back unchanged.
#include <cstdint>
#include <optional>
#include <vector>

#include "imputer/missforest/backend/generators.hpp"
#include "imputer/missforest/backend/random_forest.hpp"
#include "imputer/simple/simple_imputer.hpp"
#include "utils/encoding.hpp"
#include "utils/errors.hpp"
#include "utils/matrix.hpp"

namespace norvale {

struct MissForest {
    std::vector<RandomForest> forests;  // one per column of the last fitted table
    SimpleImputer mean_imputer;         // column means of the last fitted table
    std::uint64_t n_trees = 15;
    std::uint64_t max_depth = 15;
    std::uint64_t min_samples_leaf = 5;
    ChaCha12Rng generator;  // gives each new forest its seed
    bool is_fitted = false;
    std::optional<StringEncoding> string_encoding;

    // Without a seed the generator is keyed from a per-thread entropy source.
    static MissForest create(std::uint64_t n_trees, std::uint64_t max_depth,
                             std::uint64_t min_samples_leaf, std::optional<std::uint64_t> seed,
                             std::optional<StringEncoding> string_encoding);

    // New forests, one per column in column order, and the column means of
    // `table` (label-encoded columns included). The generator is not reset,
    // so a further fit gives new seeds.
    Status fit(const Matrix& table);

    // The column count `fit` saw.
    std::size_t fitted_columns() const { return forests.size(); }

    // A copy of `table` whose missing cells hold the forest predictions, each
    // column predicted from the mean-filled values of the other columns.
    // `table` must have `fitted_columns()` columns.
    Result<Matrix> impute(const Matrix& table) const;
};

}  // namespace norvale
