// TrelMatrixLib: the dense-matrix toolkit of the in-house class library. A matrix is a
// table of separately allocated rows addressed [row][column]; a vector is a plain array.
// Sizes travel beside the pointers. All arithmetic is double, every sum starts at 0.0 and
// runs over its index in ascending order.
#pragma once

namespace mendora {

class TrelMatrixLib {
  public:
    TrelMatrixLib() = delete;

    // Allocates a rows x columns matrix of 0.0 into `matrix`. Throws std::bad_alloc, with
    // nothing left allocated and `matrix` unchanged.
    static void allocateMatrix(double**& matrix, int rows, int columns);
    // Releases every row and the table and sets `matrix` to null. Null is allowed.
    static void releaseMatrix(double**& matrix, int rows, int columns);
    // t[j][i] = a[i][j]; `t` is n x m and already allocated.
    static void transposeMatrix(double* const* a, int m, int n, double** t);
    // r = a (m x n) * b (n x p); `r` is m x p and already allocated.
    static void multiplyMatrices(double* const* a, double* const* b, int m, int n, int p,
                                 double** r);
    // y = a (m x n) * x.
    static void multiplyMatrixVector(double* const* a, const double* x, int m, int n, double* y);
    // Solves a x = b for one right-hand side; x replaces b (also on failure, with the values
    // elimination left). `a` is consumed. Returns false when the matrix is singular.
    static bool solveLinearSystem(double** a, int n, double* b);
    // Solves a X = b in place in b (n x m) by Gauss-Jordan elimination with full pivoting;
    // `a` is consumed. Returns false when the largest remaining pivot candidate is so small that
    // adding it to 1.0 gives 1.0 (an absolute, not a relative, test); a and b are then left as
    // elimination had them. n = 0 succeeds at once.
    static bool gaussJordanSolve(double** a, int n, double** b, int m);
};

} // namespace mendora
