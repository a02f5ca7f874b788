// TrelMatrixLib: products, the Gauss-Jordan solver with full pivoting and its absolute
// singularity test.
#include <gtest/gtest.h>

#include <vector>

#include "lib/trel_matrix.h"

namespace mendora {
namespace {

struct Matrix {
    double** m = nullptr;
    int rows, columns;
    Matrix(int r, int c, std::vector<double> values = {}) : rows(r), columns(c) {
        TrelMatrixLib::allocateMatrix(m, r, c);
        for (size_t i = 0; i < values.size(); i++)
            m[i / c][i % c] = values[i];
    }
    ~Matrix() { TrelMatrixLib::releaseMatrix(m, rows, columns); }
};

TEST(TrelMatrixLib, AllocatesZeroedAndReleasesToNull) {
    Matrix a(3, 4);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 4; j++)
            EXPECT_EQ(a.m[i][j], 0.0);
    TrelMatrixLib::releaseMatrix(a.m, 3, 4);
    EXPECT_EQ(a.m, nullptr);
}

TEST(TrelMatrixLib, TransposeAndProducts) {
    Matrix a(2, 3, {1, 2, 3, 4, 5, 6});
    Matrix t(3, 2);
    TrelMatrixLib::transposeMatrix(a.m, 2, 3, t.m);
    EXPECT_EQ(t.m[2][0], 3);
    EXPECT_EQ(t.m[0][1], 4);
    Matrix product(2, 2);
    TrelMatrixLib::multiplyMatrices(a.m, t.m, 2, 3, 2, product.m);
    EXPECT_EQ(product.m[0][0], 14); // 1 + 4 + 9
    EXPECT_EQ(product.m[0][1], 32); // 4 + 10 + 18
    EXPECT_EQ(product.m[1][1], 77); // 16 + 25 + 36
    double x[3] = {1, 0, -1}, y[2];
    TrelMatrixLib::multiplyMatrixVector(a.m, x, 2, 3, y);
    EXPECT_EQ(y[0], -2);
    EXPECT_EQ(y[1], -2);
}

// A system whose largest entries sit off the diagonal, so that both the row and the column
// swaps run and the solution rows must be put back in order. Solution (1, 2, 3).
TEST(TrelMatrixLib, SolvesWithFullPivoting) {
    Matrix a(3, 3, {1, 1, 10, 2, 9, 1, 8, 1, 1});
    double b[3] = {1 + 2 + 30, 2 + 18 + 3, 8 + 2 + 3};
    EXPECT_TRUE(TrelMatrixLib::solveLinearSystem(a.m, 3, b));
    EXPECT_NEAR(b[0], 1.0, 1e-12);
    EXPECT_NEAR(b[1], 2.0, 1e-12);
    EXPECT_NEAR(b[2], 3.0, 1e-12);

    // Two right-hand sides at once.
    Matrix a2(2, 2, {0, 2, 4, 0});
    Matrix rhs(2, 2, {2, 4, 8, 12});
    EXPECT_TRUE(TrelMatrixLib::gaussJordanSolve(a2.m, 2, rhs.m, 2));
    EXPECT_EQ(rhs.m[0][0], 2); // 4 x = 8
    EXPECT_EQ(rhs.m[1][0], 1); // 2 y = 2
    EXPECT_EQ(rhs.m[0][1], 3);
    EXPECT_EQ(rhs.m[1][1], 2);
}

TEST(TrelMatrixLib, SingularityTestIsAbsolute) {
    Matrix singular(2, 2, {1, 2, 2, 4});
    double b[2] = {1, 2};
    EXPECT_FALSE(TrelMatrixLib::solveLinearSystem(singular.m, 2, b));

    // Tiny but regular: 1e-17 + 1.0 == 1.0, so it counts as singular although it is not.
    Matrix tiny(1, 1, {1e-17});
    double c[1] = {1e-17};
    EXPECT_FALSE(TrelMatrixLib::solveLinearSystem(tiny.m, 1, c));
    // 1e-15 + 1.0 differs from 1.0: solved.
    Matrix small(1, 1, {1e-15});
    double s[1] = {3e-15};
    EXPECT_TRUE(TrelMatrixLib::solveLinearSystem(small.m, 1, s));
    EXPECT_NEAR(s[0], 3.0, 1e-12);

    EXPECT_TRUE(TrelMatrixLib::gaussJordanSolve(nullptr, 0, nullptr, 0));
}

} // namespace
} // namespace mendora
