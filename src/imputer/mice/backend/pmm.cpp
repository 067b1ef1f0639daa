// Predictive mean matching around a wrapped regression model.
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>

#include "imputer/mice/backend/models.hpp"
#include "utils/parallel.hpp"

namespace norvale::mice {
namespace {

constexpr std::array<std::string_view, 2> kBackends = {"linear", "ridge"};

std::string lower_case(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Donor sets of this many predictions are chosen side by side before their
// draws, which bounds the memory the sets take together.
constexpr std::size_t kDonorCellsPerBatch = std::size_t{1} << 20;

}  // namespace

Result<PMM> PMM::create(std::uint64_t n_neighbors, std::string_view backend, double alpha) {
    const std::string name = lower_case(backend);
    PMM model;
    model.n_neighbors = n_neighbors;
    if (name == "linear")
        model.model = Box<Solver>(LinearRegression{});
    else if (name == "ridge")
        model.model = Box<Solver>(Ridge{alpha, std::nullopt, true});
    else
        return std::unexpected(Errors::unsupported_value(name, "PMM.Backend", kBackends));
    return model;
}

std::vector<double> select_donors(std::span<const double> pool, double prediction,
                                  std::size_t k) {
    constexpr double kEmpty = std::numeric_limits<double>::infinity();
    std::vector<double> slots(k), distances(k, kEmpty);
    std::size_t filled = 0;
    // The slot a closer entry replaces: while slots are empty the
    // highest-numbered empty one, then the farthest, highest-numbered among
    // equals. Kept up to date instead of searched for every entry.
    std::size_t worst = k - 1;
    for (const double value : pool) {
        const double distance = (value - prediction) * (value - prediction);
        if (!(distance < distances[worst])) continue;
        slots[worst] = value;
        distances[worst] = distance;
        if (filled < k) ++filled;
        if (filled < k) {
            worst = k - 1 - filled;
            continue;
        }
        worst = 0;
        for (std::size_t s = 1; s < k; ++s)
            if (distances[s] >= distances[worst]) worst = s;
    }
    // Slots fill from k − 1 down, so the empty ones are the lowest-numbered.
    slots.erase(slots.begin(), slots.begin() + static_cast<std::ptrdiff_t>(k - filled));
    return slots;
}

double sample(const PMM& model, std::span<const double> donors) {
    if (donors.empty()) return std::numeric_limits<double>::quiet_NaN();
    return donors[model.rng.index_below(donors.size())];
}

Status fit_model(PMM& model, DesignMatrix&& x, std::span<const double> y) {
    std::vector<double> observed;
    observed.reserve(y.size());
    for (const double target : y)
        if (!std::isnan(target)) observed.push_back(target);
    model.pool = codec::Array1{std::move(observed)};
    return fit(*model.model, std::move(x), y);
}

// The draws follow the predictions one by one, so they are the same whatever
// the scheduling; only the donor searches run side by side.
Result<std::vector<double>> predict_model(const PMM& model, const DesignMatrix& x) {
    NV_ASSIGN_OR_RETURN(const auto predictions, predict(*model.model, x));
    if (!model.pool) return std::unexpected(Errors::not_fitted());
    const std::span<const double> pool = model.pool->values;
    const std::uint64_t k = model.n_neighbors;
    std::vector<double> result(predictions.size());
    if (k >= pool.size()) {
        for (std::size_t i = 0; i < predictions.size(); ++i) result[i] = sample(model, pool);
        return result;
    }
    if (k == 0) {
        if (predictions.empty()) return result;
        return std::unexpected(Errors::invalid_operation("computing argmax on empty array!"));
    }
    const std::size_t batch = std::max<std::size_t>(1, kDonorCellsPerBatch / k);
    for (std::size_t first = 0; first < predictions.size(); first += batch) {
        const std::size_t count = std::min(batch, predictions.size() - first);
        const auto donors = parallel_map<std::vector<double>>(count, [&](std::size_t i) {
            return select_donors(pool, predictions[first + i], k);
        });
        for (std::size_t i = 0; i < count; ++i) result[first + i] = sample(model, donors[i]);
    }
    return result;
}

}  // namespace norvale::mice
