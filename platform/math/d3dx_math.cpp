#include "platform/math/d3dx_math.h"

#include <cfloat>
#include <cmath>

namespace {

// Reciprocal of a length, or 0 for a zero or denormal length.
double InverseLength(double lengthSq)
{
    double len = std::sqrt(lengthSq);
    if (!(len >= static_cast<double>(FLT_MIN))) return 0.0;
    return 1.0 / len;
}

D3DXMATRIX Product(const D3DXMATRIX& a, const D3DXMATRIX& b)
{
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
        }
    }
    return r;
}

// Hamilton product p q.
D3DXQUATERNION Hamilton(const D3DXQUATERNION& p, const D3DXQUATERNION& q)
{
    return {p.w * q.x + p.x * q.w + p.y * q.z - p.z * q.y,
            p.w * q.y - p.x * q.z + p.y * q.w + p.z * q.x,
            p.w * q.z + p.x * q.y - p.y * q.x + p.z * q.w,
            p.w * q.w - p.x * q.x - p.y * q.y - p.z * q.z};
}

}  // namespace

// --- Types ---

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& b) const { return Product(*this, b); }

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& b)
{
    *this = Product(*this, b);
    return *this;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& b) const
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (m[i][j] != b.m[i][j]) return false;
    return true;
}

D3DXQUATERNION D3DXQUATERNION::operator*(const D3DXQUATERNION& q) const { return Hamilton(q, *this); }

D3DXCOLOR::D3DXCOLOR(std::uint32_t argb)
    : r(static_cast<float>((argb >> 16) & 0xFFu) / 255.0f),
      g(static_cast<float>((argb >> 8) & 0xFFu) / 255.0f),
      b(static_cast<float>(argb & 0xFFu) / 255.0f),
      a(static_cast<float>((argb >> 24) & 0xFFu) / 255.0f)
{
}

D3DXCOLOR::operator std::uint32_t() const
{
    auto channel = [](float v) -> std::uint32_t {
        if (!(v > 0.0f)) return 0u;  // also NaN
        if (v >= 1.0f) return 255u;
        return static_cast<std::uint32_t>(v * 255.0f + 0.5f);
    };
    return (channel(a) << 24) | (channel(r) << 16) | (channel(g) << 8) | channel(b);
}

// --- 2D vectors ---

float D3DXVec2Length(const D3DXVECTOR2* pV)
{
    return static_cast<float>(std::sqrt(static_cast<double>(pV->x) * pV->x + static_cast<double>(pV->y) * pV->y));
}

float D3DXVec2Dot(const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2) { return pV1->x * pV2->x + pV1->y * pV2->y; }

D3DXVECTOR2* D3DXVec2Normalize(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV)
{
    double inv = InverseLength(static_cast<double>(pV->x) * pV->x + static_cast<double>(pV->y) * pV->y);
    *pOut = D3DXVECTOR2(static_cast<float>(pV->x * inv), static_cast<float>(pV->y * inv));
    return pOut;
}

// --- 3D vectors ---

float D3DXVec3LengthSq(const D3DXVECTOR3* pV) { return pV->x * pV->x + pV->y * pV->y + pV->z * pV->z; }

float D3DXVec3Length(const D3DXVECTOR3* pV) { return std::sqrt(D3DXVec3LengthSq(pV)); }

float D3DXVec3Dot(const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    return pV1->x * pV2->x + pV1->y * pV2->y + pV1->z * pV2->z;
}

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    D3DXVECTOR3 r(pV1->y * pV2->z - pV1->z * pV2->y, pV1->z * pV2->x - pV1->x * pV2->z,
                  pV1->x * pV2->y - pV1->y * pV2->x);
    *pOut = r;
    return pOut;
}

D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    *pOut = *pV1 + *pV2;
    return pOut;
}

D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    *pOut = *pV1 - *pV2;
    return pOut;
}

D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, float s)
{
    *pOut = *pV * s;
    return pOut;
}

D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2, float s)
{
    *pOut = D3DXVECTOR3(pV1->x + s * (pV2->x - pV1->x), pV1->y + s * (pV2->y - pV1->y),
                        pV1->z + s * (pV2->z - pV1->z));
    return pOut;
}

D3DXVECTOR3* D3DXVec3Minimize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    *pOut = D3DXVECTOR3(pV1->x < pV2->x ? pV1->x : pV2->x, pV1->y < pV2->y ? pV1->y : pV2->y,
                        pV1->z < pV2->z ? pV1->z : pV2->z);
    return pOut;
}

D3DXVECTOR3* D3DXVec3Maximize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    *pOut = D3DXVECTOR3(pV1->x > pV2->x ? pV1->x : pV2->x, pV1->y > pV2->y ? pV1->y : pV2->y,
                        pV1->z > pV2->z ? pV1->z : pV2->z);
    return pOut;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV)
{
    double x = pV->x, y = pV->y, z = pV->z;
    double inv = InverseLength(x * x + y * y + z * z);
    *pOut = D3DXVECTOR3(static_cast<float>(x * inv), static_cast<float>(y * inv), static_cast<float>(z * inv));
    return pOut;
}

D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM)
{
    D3DXVECTOR4 v(pV->x, pV->y, pV->z, 1.0f);
    return D3DXVec4Transform(pOut, &v, pM);
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM)
{
    D3DXVECTOR4 r;
    D3DXVec3Transform(&r, pV, pM);
    if (r.w != 0.0f && r.w != 1.0f) {
        float inv = 1.0f / r.w;
        *pOut = D3DXVECTOR3(r.x * inv, r.y * inv, r.z * inv);
    } else {
        *pOut = D3DXVECTOR3(r.x, r.y, r.z);
    }
    return pOut;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    D3DXVECTOR3 r(pV->x * m._11 + pV->y * m._21 + pV->z * m._31, pV->x * m._12 + pV->y * m._22 + pV->z * m._32,
                  pV->x * m._13 + pV->y * m._23 + pV->z * m._33);
    *pOut = r;
    return pOut;
}

// --- 4D vectors ---

float D3DXVec4Dot(const D3DXVECTOR4* pV1, const D3DXVECTOR4* pV2)
{
    return pV1->x * pV2->x + pV1->y * pV2->y + pV1->z * pV2->z + pV1->w * pV2->w;
}

float D3DXVec4Length(const D3DXVECTOR4* pV) { return std::sqrt(D3DXVec4Dot(pV, pV)); }

D3DXVECTOR4* D3DXVec4Normalize(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV)
{
    double x = pV->x, y = pV->y, z = pV->z, w = pV->w;
    double inv = InverseLength(x * x + y * y + z * z + w * w);
    *pOut = D3DXVECTOR4(static_cast<float>(x * inv), static_cast<float>(y * inv), static_cast<float>(z * inv),
                        static_cast<float>(w * inv));
    return pOut;
}

D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    const D3DXVECTOR4 v = *pV;
    *pOut = D3DXVECTOR4(v.x * m._11 + v.y * m._21 + v.z * m._31 + v.w * m._41,
                        v.x * m._12 + v.y * m._22 + v.z * m._32 + v.w * m._42,
                        v.x * m._13 + v.y * m._23 + v.z * m._33 + v.w * m._43,
                        v.x * m._14 + v.y * m._24 + v.z * m._34 + v.w * m._44);
    return pOut;
}

// --- Matrices ---

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* pOut)
{
    *pOut = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return pOut;
}

bool D3DXMatrixIsIdentity(const D3DXMATRIX* pM)
{
    D3DXMATRIX id;
    D3DXMatrixIdentity(&id);
    return *pM == id;
}

namespace {

// Cofactor expansion in double precision; fills the adjugate (transposed cofactors).
double Adjugate(const D3DXMATRIX& a, double adj[4][4])
{
    double m[16];
    for (int i = 0; i < 16; ++i) m[i] = a.m[i / 4][i % 4];
    double inv[16];
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
             m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
             m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
             m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
              m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
             m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
             m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
             m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
              m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
             m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
             m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
              m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
              m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
             m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
             m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
              m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
              m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    for (int i = 0; i < 16; ++i) adj[i / 4][i % 4] = inv[i];
    return m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
}

}  // namespace

float D3DXMatrixDeterminant(const D3DXMATRIX* pM)
{
    double adj[4][4];
    return static_cast<float>(Adjugate(*pM, adj));
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1, const D3DXMATRIX* pM2)
{
    *pOut = Product(*pM1, *pM2);
    return pOut;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM)
{
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r.m[i][j] = pM->m[j][i];
    *pOut = r;
    return pOut;
}

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* pOut, float* pDeterminant, const D3DXMATRIX* pM)
{
    double adj[4][4];
    double det = Adjugate(*pM, adj);
    if (pDeterminant) *pDeterminant = static_cast<float>(det);
    if (det == 0.0 || !std::isfinite(det)) return nullptr;
    double inv = 1.0 / det;
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r.m[i][j] = static_cast<float>(adj[i][j] * inv);
    *pOut = r;
    return pOut;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* pOut, float x, float y, float z)
{
    D3DXMatrixIdentity(pOut);
    pOut->_41 = x;
    pOut->_42 = y;
    pOut->_43 = z;
    return pOut;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* pOut, float sx, float sy, float sz)
{
    *pOut = D3DXMATRIX(sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, sz, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* pOut, float angle)
{
    float c = std::cos(angle), s = std::sin(angle);
    *pOut = D3DXMATRIX(1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* pOut, float angle)
{
    float c = std::cos(angle), s = std::sin(angle);
    *pOut = D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* pOut, float angle)
{
    float c = std::cos(angle), s = std::sin(angle);
    *pOut = D3DXMATRIX(c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* pOut, const D3DXVECTOR3* pAxis, float angle)
{
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, pAxis);
    if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f) return D3DXMatrixIdentity(pOut);
    float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    float x = n.x, y = n.y, z = n.z;
    // Transpose of the column-vector form c I + s [n]x + (1 - c) n n^T.
    *pOut = D3DXMATRIX(t * x * x + c, t * x * y + s * z, t * x * z - s * y, 0,
                       t * x * y - s * z, t * y * y + c, t * y * z + s * x, 0,
                       t * x * z + s * y, t * y * z - s * x, t * z * z + c, 0,
                       0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* pOut, const D3DXQUATERNION* pQ)
{
    float x = pQ->x, y = pQ->y, z = pQ->z, w = pQ->w;
    *pOut = D3DXMATRIX(1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w), 0,
                       2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w), 0,
                       2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y), 0,
                       0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* pOut, float yaw, float pitch, float roll)
{
    D3DXMATRIX rz, rx, ry;
    D3DXMatrixRotationZ(&rz, roll);
    D3DXMatrixRotationX(&rx, pitch);
    D3DXMatrixRotationY(&ry, yaw);
    *pOut = Product(Product(rz, rx), ry);
    return pOut;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* pOut, float fovy, float aspect, float zn, float zf)
{
    float yScale = 1.0f / std::tan(fovy * 0.5f);
    float xScale = yScale / aspect;
    float q = zf / (zf - zn);
    *pOut = D3DXMATRIX(xScale, 0, 0, 0, 0, yScale, 0, 0, 0, 0, q, 1, 0, 0, -zn * q, 0);
    return pOut;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye, const D3DXVECTOR3* pAt,
                               const D3DXVECTOR3* pUp)
{
    D3DXVECTOR3 zaxis = *pAt - *pEye;
    D3DXVec3Normalize(&zaxis, &zaxis);
    D3DXVECTOR3 xaxis;
    D3DXVec3Cross(&xaxis, pUp, &zaxis);
    D3DXVec3Normalize(&xaxis, &xaxis);
    D3DXVECTOR3 yaxis;
    D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
    *pOut = D3DXMATRIX(xaxis.x, yaxis.x, zaxis.x, 0,
                       xaxis.y, yaxis.y, zaxis.y, 0,
                       xaxis.z, yaxis.z, zaxis.z, 0,
                       -D3DXVec3Dot(&xaxis, pEye), -D3DXVec3Dot(&yaxis, pEye), -D3DXVec3Dot(&zaxis, pEye), 1);
    return pOut;
}

// --- Quaternions ---

D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* pOut)
{
    *pOut = D3DXQUATERNION(0, 0, 0, 1);
    return pOut;
}

float D3DXQuaternionDot(const D3DXQUATERNION* pQ1, const D3DXQUATERNION* pQ2)
{
    return pQ1->x * pQ2->x + pQ1->y * pQ2->y + pQ1->z * pQ2->z + pQ1->w * pQ2->w;
}

float D3DXQuaternionLengthSq(const D3DXQUATERNION* pQ) { return D3DXQuaternionDot(pQ, pQ); }

float D3DXQuaternionLength(const D3DXQUATERNION* pQ) { return std::sqrt(D3DXQuaternionLengthSq(pQ)); }

D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ)
{
    double x = pQ->x, y = pQ->y, z = pQ->z, w = pQ->w;
    double inv = InverseLength(x * x + y * y + z * z + w * w);
    *pOut = D3DXQUATERNION(static_cast<float>(x * inv), static_cast<float>(y * inv), static_cast<float>(z * inv),
                           static_cast<float>(w * inv));
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionConjugate(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ)
{
    *pOut = D3DXQUATERNION(-pQ->x, -pQ->y, -pQ->z, pQ->w);
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionInverse(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ)
{
    double lsq = static_cast<double>(pQ->x) * pQ->x + static_cast<double>(pQ->y) * pQ->y +
                 static_cast<double>(pQ->z) * pQ->z + static_cast<double>(pQ->w) * pQ->w;
    double inv = lsq > 0.0 ? 1.0 / lsq : 0.0;
    *pOut = D3DXQUATERNION(static_cast<float>(-pQ->x * inv), static_cast<float>(-pQ->y * inv),
                           static_cast<float>(-pQ->z * inv), static_cast<float>(pQ->w * inv));
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                       const D3DXQUATERNION* pQ2)
{
    *pOut = Hamilton(*pQ2, *pQ1);
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* pOut, const D3DXVECTOR3* pAxis, float angle)
{
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, pAxis);
    if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f) return D3DXQuaternionIdentity(pOut);
    float s = std::sin(angle * 0.5f), c = std::cos(angle * 0.5f);
    *pOut = D3DXQUATERNION(n.x * s, n.y * s, n.z * s, c);
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionRotationMatrix(D3DXQUATERNION* pOut, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    double trace = static_cast<double>(m._11) + m._22 + m._33;
    double x, y, z, w;
    if (trace > 0.0) {
        double s = std::sqrt(trace + 1.0) * 2.0;  // 4 w
        w = 0.25 * s;
        x = (m._23 - m._32) / s;
        y = (m._31 - m._13) / s;
        z = (m._12 - m._21) / s;
    } else if (m._11 > m._22 && m._11 > m._33) {
        double s = std::sqrt(1.0 + m._11 - m._22 - m._33) * 2.0;  // 4 x
        x = 0.25 * s;
        w = (m._23 - m._32) / s;
        y = (m._12 + m._21) / s;
        z = (m._31 + m._13) / s;
    } else if (m._22 > m._33) {
        double s = std::sqrt(1.0 + m._22 - m._11 - m._33) * 2.0;  // 4 y
        y = 0.25 * s;
        w = (m._31 - m._13) / s;
        x = (m._12 + m._21) / s;
        z = (m._23 + m._32) / s;
    } else {
        double s = std::sqrt(1.0 + m._33 - m._11 - m._22) * 2.0;  // 4 z
        z = 0.25 * s;
        w = (m._12 - m._21) / s;
        x = (m._31 + m._13) / s;
        y = (m._23 + m._32) / s;
    }
    *pOut = D3DXQUATERNION(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z),
                           static_cast<float>(w));
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* pOut, float yaw, float pitch, float roll)
{
    float sy = std::sin(yaw * 0.5f), cy = std::cos(yaw * 0.5f);
    float sp = std::sin(pitch * 0.5f), cp = std::cos(pitch * 0.5f);
    float sr = std::sin(roll * 0.5f), cr = std::cos(roll * 0.5f);
    D3DXQUATERNION qz(0, 0, sr, cr), qx(sp, 0, 0, cp), qy(0, sy, 0, cy);
    // Roll, then pitch, then yaw: the Hamilton product qy qx qz.
    *pOut = Hamilton(qy, Hamilton(qx, qz));
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionSlerp(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                    const D3DXQUATERNION* pQ2, float t)
{
    double cosom = D3DXQuaternionDot(pQ1, pQ2);
    double sign = 1.0;
    if (cosom < 0.0) {
        cosom = -cosom;
        sign = -1.0;
    }
    double k1, k2;
    if (cosom > 0.9999) {
        k1 = 1.0 - t;
        k2 = t;
    } else {
        double omega = std::acos(cosom);
        double sinom = std::sin(omega);
        k1 = std::sin((1.0 - t) * omega) / sinom;
        k2 = std::sin(t * omega) / sinom;
    }
    k2 *= sign;
    *pOut = D3DXQUATERNION(static_cast<float>(k1 * pQ1->x + k2 * pQ2->x), static_cast<float>(k1 * pQ1->y + k2 * pQ2->y),
                           static_cast<float>(k1 * pQ1->z + k2 * pQ2->z), static_cast<float>(k1 * pQ1->w + k2 * pQ2->w));
    return pOut;
}

void D3DXQuaternionToAxisAngle(const D3DXQUATERNION* pQ, D3DXVECTOR3* pAxis, float* pAngle)
{
    if (pAxis) *pAxis = D3DXVECTOR3(pQ->x, pQ->y, pQ->z);
    if (pAngle) {
        float w = pQ->w;
        if (w > 1.0f) w = 1.0f;
        if (w < -1.0f) w = -1.0f;
        *pAngle = 2.0f * std::acos(w);
    }
}

// --- Planes ---

float D3DXPlaneDot(const D3DXPLANE* pP, const D3DXVECTOR4* pV)
{
    return pP->a * pV->x + pP->b * pV->y + pP->c * pV->z + pP->d * pV->w;
}

float D3DXPlaneDotCoord(const D3DXPLANE* pP, const D3DXVECTOR3* pV)
{
    return pP->a * pV->x + pP->b * pV->y + pP->c * pV->z + pP->d;
}

float D3DXPlaneDotNormal(const D3DXPLANE* pP, const D3DXVECTOR3* pV)
{
    return pP->a * pV->x + pP->b * pV->y + pP->c * pV->z;
}

D3DXPLANE* D3DXPlaneNormalize(D3DXPLANE* pOut, const D3DXPLANE* pP)
{
    double a = pP->a, b = pP->b, c = pP->c;
    double inv = InverseLength(a * a + b * b + c * c);
    *pOut = D3DXPLANE(static_cast<float>(a * inv), static_cast<float>(b * inv), static_cast<float>(c * inv),
                      static_cast<float>(pP->d * inv));
    return pOut;
}

D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* pOut, const D3DXVECTOR3* pPoint, const D3DXVECTOR3* pNormal)
{
    *pOut = D3DXPLANE(pNormal->x, pNormal->y, pNormal->z, -D3DXVec3Dot(pPoint, pNormal));
    return pOut;
}

D3DXPLANE* D3DXPlaneFromPoints(D3DXPLANE* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2,
                               const D3DXVECTOR3* pV3)
{
    D3DXVECTOR3 e1 = *pV2 - *pV1, e2 = *pV3 - *pV1, n;
    D3DXVec3Cross(&n, &e1, &e2);
    D3DXVec3Normalize(&n, &n);
    return D3DXPlaneFromPointNormal(pOut, pV1, &n);
}

D3DXVECTOR3* D3DXPlaneIntersectLine(D3DXVECTOR3* pOut, const D3DXPLANE* pP, const D3DXVECTOR3* pV1,
                                    const D3DXVECTOR3* pV2)
{
    D3DXVECTOR3 dir = *pV2 - *pV1;
    float denom = D3DXPlaneDotNormal(pP, &dir);
    if (denom == 0.0f || !std::isfinite(denom)) return nullptr;
    float t = -D3DXPlaneDotCoord(pP, pV1) / denom;
    *pOut = *pV1 + dir * t;
    return pOut;
}

D3DXPLANE* D3DXPlaneTransform(D3DXPLANE* pOut, const D3DXPLANE* pP, const D3DXMATRIX* pM)
{
    D3DXVECTOR4 v(pP->a, pP->b, pP->c, pP->d), r;
    D3DXVec4Transform(&r, &v, pM);
    *pOut = D3DXPLANE(r.x, r.y, r.z, r.w);
    return pOut;
}

// --- Colours ---

D3DXCOLOR* D3DXColorLerp(D3DXCOLOR* pOut, const D3DXCOLOR* pC1, const D3DXCOLOR* pC2, float s)
{
    *pOut = D3DXCOLOR(pC1->r + s * (pC2->r - pC1->r), pC1->g + s * (pC2->g - pC1->g), pC1->b + s * (pC2->b - pC1->b),
                      pC1->a + s * (pC2->a - pC1->a));
    return pOut;
}
