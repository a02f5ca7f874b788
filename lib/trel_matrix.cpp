// Dense matrices: allocation, transpose, products and a Gauss-Jordan solver.
// In: row-pointer matrices and their sizes. Out: products and solutions, in double.
#include "lib/trel_matrix.h"

#include <cmath>
#include <memory>
#include <new>
#include <utility>

namespace mendora {

void TrelMatrixLib::allocateMatrix(double**& matrix, int rows, int columns) {
    double** table = new double*[rows > 0 ? rows : 0];
    int made = 0;
    try {
        for (; made < rows; made++)
            table[made] = new double[columns > 0 ? columns : 0]();
    } catch (const std::bad_alloc&) {
        for (int i = 0; i < made; i++)
            delete[] table[i];
        delete[] table;
        throw;
    }
    matrix = table;
}

void TrelMatrixLib::releaseMatrix(double**& matrix, int rows, int /*columns*/) {
    if (matrix == nullptr)
        return;
    for (int i = 0; i < rows; i++)
        delete[] matrix[i];
    delete[] matrix;
    matrix = nullptr;
}

void TrelMatrixLib::transposeMatrix(double* const* a, int m, int n, double** t) {
    for (int i = 0; i < m; i++)
        for (int j = 0; j < n; j++)
            t[j][i] = a[i][j];
}

void TrelMatrixLib::multiplyMatrices(double* const* a, double* const* b, int m, int n, int p,
                                     double** r) {
    for (int i = 0; i < m; i++)
        for (int j = 0; j < p; j++) {
            double sum = 0.0;
            for (int k = 0; k < n; k++)
                sum += a[i][k] * b[k][j];
            r[i][j] = sum;
        }
}

void TrelMatrixLib::multiplyMatrixVector(double* const* a, const double* x, int m, int n,
                                         double* y) {
    for (int i = 0; i < m; i++) {
        double sum = 0.0;
        for (int j = 0; j < n; j++)
            sum += a[i][j] * x[j];
        y[i] = sum;
    }
}

bool TrelMatrixLib::solveLinearSystem(double** a, int n, double* b) {
    double** bb = nullptr;
    allocateMatrix(bb, n, 1);
    for (int i = 0; i < n; i++)
        bb[i][0] = b[i];
    bool solved;
    try {
        solved = gaussJordanSolve(a, n, bb, 1);
    } catch (...) {
        releaseMatrix(bb, n, 1);
        throw;
    }
    for (int i = 0; i < n; i++)
        b[i] = bb[i][0];
    releaseMatrix(bb, n, 1);
    return solved;
}

bool TrelMatrixLib::gaussJordanSolve(double** a, int n, double** b, int m) {
    if (n <= 0)
        return true;
    std::unique_ptr<int[]> pivotColumn(new int[n]);
    for (int i = 0; i < n; i++) {
        // Full pivoting: the largest absolute value of the remaining block; the first one
        // found wins ties.
        double big = -1.0;
        int pivotRow = i;
        int column = i;
        for (int j = i; j < n; j++)
            for (int k = i; k < n; k++) {
                double v = std::fabs(a[j][k]);
                if (v > big) {
                    big = v;
                    pivotRow = j;
                    column = k;
                }
            }
        pivotColumn[i] = column;
        if (big + 1.0 == 1.0)
            return false;
        if (column != i)
            for (int k = 0; k < n; k++)
                std::swap(a[k][i], a[k][column]);
        if (pivotRow != i) {
            for (int k = i; k < n; k++)
                std::swap(a[i][k], a[pivotRow][k]);
            for (int k = 0; k < m; k++)
                std::swap(b[i][k], b[pivotRow][k]);
        }
        const double pivot = a[i][i];
        for (int q = i + 1; q < n; q++)
            a[i][q] /= pivot;
        for (int q = 0; q < m; q++)
            b[i][q] /= pivot;
        for (int q = i + 1; q < n; q++)
            for (int k = 0; k < n; k++)
                if (k != i)
                    a[k][q] -= a[k][i] * a[i][q];
        for (int q = 0; q < m; q++)
            for (int k = 0; k < n; k++)
                if (k != i)
                    b[k][q] -= a[k][i] * b[i][q];
    }
    // The column swaps permuted the unknowns: put the solution rows back in order.
    for (int e = n - 1; e >= 0; e--)
        if (pivotColumn[e] != e)
            for (int q = 0; q < m; q++)
                std::swap(b[e][q], b[pivotColumn[e]][q]);
    return true;
}

} // namespace mendora
