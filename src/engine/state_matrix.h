// The product-operator state of a run: one row of 4^N coefficients per gradient slice.
// Rows are stored back to back in one block (row r starts at r * 4^N), columns follow the operator
// index of operator_basis.h. Row 0 is the whole sample while no gradient has acted.
#pragma once

#include "util/cache_aligned.h"

#include <cstddef>
#include <span>

namespace velmora::engine {

// Slice rows the state can hold (rows 0..127).
inline constexpr int kMaxStateRows = 128;

class StateMatrix {
public:
    // A zero state of nSpins spins (1..10) with rowCount rows (1..128).
    // Throws std::invalid_argument for counts outside those ranges.
    explicit StateMatrix(int nSpins, int rowCount = 1);

    int spinCount() const { return spinCount_; }
    int rowCount() const { return rowCount_; }
    // Coefficients per row: 4^N.
    int rowLength() const { return rowLength_; }

    // Row r (0..rowCount() - 1); throws std::out_of_range for any other r.
    std::span<double> row(int r);
    std::span<const double> row(int r) const;

    // Changes the number of slice rows (1..128). Existing rows keep their coefficients; new rows
    // start at zero. Throws std::invalid_argument for a count outside that range.
    void setRowCount(int rows);

private:
    std::size_t rowOffset(int r) const;

    int spinCount_;
    int rowCount_;
    int rowLength_;
    // On a cache line: the row kernels' vector loads then never straddle two lines (rows are whole
    // lines from three spins on).
    util::CacheAlignedVector<double> coefficients_;
};

}  // namespace velmora::engine
