// Storage of the product-operator state: contiguous slice rows of 4^N coefficients.
#include "engine/state_matrix.h"

#include "engine/operator_basis.h"

#include <stdexcept>
#include <string>

namespace velmora::engine {

namespace {

void checkRowCount(int rows)
{
    if (rows < 1 || rows > kMaxStateRows) {
        throw std::invalid_argument("StateMatrix: row count " + std::to_string(rows) + " is outside 1.." +
                                    std::to_string(kMaxStateRows));
    }
}

int checkedSpinCount(int nSpins)
{
    if (nSpins < 1 || nSpins > kMaxSpins) {
        throw std::invalid_argument("StateMatrix: spin count " + std::to_string(nSpins) + " is outside 1.." +
                                    std::to_string(kMaxSpins));
    }
    return nSpins;
}

}  // namespace

StateMatrix::StateMatrix(int nSpins, int rowCount)
    : spinCount_(checkedSpinCount(nSpins)), rowCount_(rowCount), rowLength_(operatorCount(nSpins))
{
    checkRowCount(rowCount);
    coefficients_.assign(static_cast<std::size_t>(rowCount_) * static_cast<std::size_t>(rowLength_), 0.0);
}

std::size_t StateMatrix::rowOffset(int r) const
{
    if (r < 0 || r >= rowCount_) {
        throw std::out_of_range("StateMatrix: row " + std::to_string(r) + " of " + std::to_string(rowCount_));
    }
    return static_cast<std::size_t>(r) * static_cast<std::size_t>(rowLength_);
}

std::span<double> StateMatrix::row(int r)
{
    return {coefficients_.data() + rowOffset(r), static_cast<std::size_t>(rowLength_)};
}

std::span<const double> StateMatrix::row(int r) const
{
    return {coefficients_.data() + rowOffset(r), static_cast<std::size_t>(rowLength_)};
}

void StateMatrix::setRowCount(int rows)
{
    checkRowCount(rows);
    coefficients_.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(rowLength_), 0.0);
    rowCount_ = rows;
}

}  // namespace velmora::engine
