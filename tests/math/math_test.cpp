#include "platform/math/d3dx_math.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

namespace {

constexpr float kHalfPi = 1.5707964f;
constexpr float kEps = 1e-5f;

void ExpectVec(const D3DXVECTOR3& v, float x, float y, float z, float eps = kEps)
{
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

void ExpectMatrixNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float eps = 1e-5f)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], eps) << "element " << i << j;
}

// Same rotation (q and -q are equal rotations).
void ExpectSameRotation(const D3DXQUATERNION& a, const D3DXQUATERNION& b, float eps = 1e-5f)
{
    float d = std::fabs(D3DXQuaternionDot(&a, &b));
    EXPECT_NEAR(d, 1.0f, eps);
}

D3DXVECTOR3 Apply(const D3DXMATRIX& m, D3DXVECTOR3 v)
{
    D3DXVECTOR3 r;
    D3DXVec3TransformCoord(&r, &v, &m);
    return r;
}

D3DXVECTOR3 Apply(const D3DXQUATERNION& q, D3DXVECTOR3 v)
{
    D3DXMATRIX m;
    D3DXMatrixRotationQuaternion(&m, &q);
    return Apply(m, v);
}

TEST(MathVectors, BasicOperations)
{
    D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0), r;
    ExpectVec(*D3DXVec3Cross(&r, &x, &y), 0, 0, 1);
    ExpectVec(*D3DXVec3Cross(&r, &y, &x), 0, 0, -1);
    D3DXVECTOR3 a(1, 2, 3), b(4, -5, 6);
    EXPECT_FLOAT_EQ(D3DXVec3Dot(&a, &b), 4 - 10 + 18);
    EXPECT_FLOAT_EQ(D3DXVec3LengthSq(&a), 14.0f);
    EXPECT_FLOAT_EQ(D3DXVec3Length(&a), std::sqrt(14.0f));
    ExpectVec(*D3DXVec3Add(&r, &a, &b), 5, -3, 9);
    ExpectVec(*D3DXVec3Subtract(&r, &a, &b), -3, 7, -3);
    ExpectVec(*D3DXVec3Scale(&r, &a, 2), 2, 4, 6);
    ExpectVec(*D3DXVec3Lerp(&r, &a, &b, 0.25f), 1.75f, 0.25f, 3.75f);
    // The output may alias an input.
    r = a;
    D3DXVec3Cross(&r, &r, &b);
    ExpectVec(r, 2 * 6 - 3 * -5, 3 * 4 - 1 * 6, 1 * -5 - 2 * 4);
}

TEST(MathVectors, NormalizeGivesZeroForZeroAndDenormalLength)
{
    D3DXVECTOR3 r(9, 9, 9), v(3, 4, 0);
    ExpectVec(*D3DXVec3Normalize(&r, &v), 0.6f, 0.8f, 0.0f);
    D3DXVECTOR3 zero(0, 0, 0);
    D3DXVec3Normalize(&r, &zero);
    EXPECT_EQ(r, D3DXVECTOR3(0, 0, 0));
    D3DXVECTOR3 denormal(1e-39f, 0, 0);
    D3DXVec3Normalize(&r, &denormal);
    EXPECT_EQ(r, D3DXVECTOR3(0, 0, 0));
    // Tiny but normal lengths still normalise (squares would underflow in float).
    D3DXVECTOR3 tiny(3e-25f, 4e-25f, 0);
    ExpectVec(*D3DXVec3Normalize(&r, &tiny), 0.6f, 0.8f, 0.0f);
    D3DXQUATERNION q0, qn;
    D3DXQuaternionNormalize(&qn, &q0);
    EXPECT_EQ(qn, D3DXQUATERNION(0, 0, 0, 0));
    D3DXVECTOR2 v2(0, 0), r2;
    D3DXVec2Normalize(&r2, &v2);
    EXPECT_EQ(r2, D3DXVECTOR2(0, 0));
}

TEST(MathVectors, TransformNormalIgnoresTranslationCoordDividesByW)
{
    D3DXMATRIX t;
    D3DXMatrixTranslation(&t, 10, 20, 30);
    D3DXVECTOR3 v(1, 2, 3), r;
    ExpectVec(*D3DXVec3TransformNormal(&r, &v, &t), 1, 2, 3);
    ExpectVec(*D3DXVec3TransformCoord(&r, &v, &t), 11, 22, 33);
    D3DXVECTOR4 r4;
    D3DXVec3Transform(&r4, &v, &t);
    EXPECT_FLOAT_EQ(r4.w, 1.0f);
    D3DXMATRIX s;
    D3DXMatrixScaling(&s, 1, 1, 1);
    s._44 = 2.0f;  // w = 2
    ExpectVec(*D3DXVec3TransformCoord(&r, &v, &s), 0.5f, 1.0f, 1.5f);
}

TEST(MathMatrices, AxisRotationsFollowLeftHandedRowVectorConvention)
{
    D3DXMATRIX m;
    ExpectVec(Apply(*D3DXMatrixRotationZ(&m, kHalfPi), {1, 0, 0}), 0, 1, 0);
    ExpectVec(Apply(*D3DXMatrixRotationX(&m, kHalfPi), {0, 1, 0}), 0, 0, 1);
    ExpectVec(Apply(*D3DXMatrixRotationY(&m, kHalfPi), {0, 0, 1}), 1, 0, 0);
    ExpectVec(Apply(*D3DXMatrixRotationY(&m, kHalfPi), {1, 0, 0}), 0, 0, -1);
    // Axis rotation agrees with the single-axis ones, and the axis is normalised.
    D3DXMATRIX a, b;
    D3DXVECTOR3 axisZ(0, 0, 5), axisX(-2, 0, 0);
    ExpectMatrixNear(*D3DXMatrixRotationAxis(&a, &axisZ, 0.3f), *D3DXMatrixRotationZ(&b, 0.3f));
    ExpectMatrixNear(*D3DXMatrixRotationAxis(&a, &axisX, 0.3f), *D3DXMatrixRotationX(&b, -0.3f));
    D3DXVECTOR3 zero;
    EXPECT_TRUE(D3DXMatrixIsIdentity(D3DXMatrixRotationAxis(&a, &zero, 1.0f)));
}

TEST(MathMatrices, MultiplyAppliesFirstArgumentFirst)
{
    D3DXMATRIX t, r, tr, rt;
    D3DXMatrixTranslation(&t, 1, 0, 0);
    D3DXMatrixRotationZ(&r, kHalfPi);
    D3DXMatrixMultiply(&tr, &t, &r);  // translate, then rotate
    D3DXMatrixMultiply(&rt, &r, &t);  // rotate, then translate
    ExpectVec(Apply(tr, {0, 0, 0}), 0, 1, 0);
    ExpectVec(Apply(rt, {0, 0, 0}), 1, 0, 0);
    ExpectMatrixNear(t * r, tr);
    // Aliased output.
    D3DXMATRIX x = t;
    D3DXMatrixMultiply(&x, &x, &r);
    ExpectMatrixNear(x, tr);
}

TEST(MathMatrices, InverseTransposeDeterminant)
{
    D3DXMATRIX a, b, c, m, inv, prod, id;
    D3DXVECTOR3 axis(1, 2, -3);
    D3DXMatrixRotationAxis(&a, &axis, 0.7f);
    D3DXMatrixScaling(&b, 2, 3, 0.5f);
    D3DXMatrixTranslation(&c, -4, 5, 6);
    m = a * b * c;
    float det = 0;
    ASSERT_NE(D3DXMatrixInverse(&inv, &det, &m), nullptr);
    EXPECT_NEAR(det, 3.0f, 1e-4f);
    EXPECT_NEAR(D3DXMatrixDeterminant(&m), 3.0f, 1e-4f);
    D3DXMatrixIdentity(&id);
    ExpectMatrixNear(*D3DXMatrixMultiply(&prod, &m, &inv), id);
    ExpectMatrixNear(*D3DXMatrixMultiply(&prod, &inv, &m), id);
    // Inverse of a rotation is its transpose.
    D3DXMATRIX at, ai;
    D3DXMatrixTranspose(&at, &a);
    D3DXMatrixInverse(&ai, nullptr, &a);
    ExpectMatrixNear(at, ai);
    // Singular: no result, output untouched.
    D3DXMATRIX singular, out = id;
    D3DXMatrixScaling(&singular, 1, 0, 1);
    EXPECT_EQ(D3DXMatrixInverse(&out, &det, &singular), nullptr);
    EXPECT_EQ(det, 0.0f);
    EXPECT_TRUE(D3DXMatrixIsIdentity(&out));
}

TEST(MathMatrices, YawPitchRollAppliesRollThenPitchThenYaw)
{
    D3DXMATRIX m;
    D3DXMatrixRotationYawPitchRoll(&m, kHalfPi, kHalfPi, 0);
    // Pitch carries +Y to +Z, then yaw carries +Z to +X.
    ExpectVec(Apply(m, {0, 1, 0}), 1, 0, 0);
    D3DXMatrixRotationYawPitchRoll(&m, 0, kHalfPi, kHalfPi);
    // Roll carries +X to +Y, then pitch carries +Y to +Z.
    ExpectVec(Apply(m, {1, 0, 0}), 0, 0, 1);
}

TEST(MathMatrices, PerspectiveFovLH)
{
    D3DXMATRIX p;
    D3DXMatrixPerspectiveFovLH(&p, kHalfPi, 2.0f, 1.0f, 101.0f);
    ExpectVec(Apply(p, {0, 0, 1}), 0, 0, 0);
    ExpectVec(Apply(p, {0, 0, 101}), 0, 0, 1);
    // 90 degrees vertical: y = z lies on the top edge; aspect 2 halves x.
    ExpectVec(Apply(p, {10, 10, 10}), 0.5f, 1.0f, (10.0f - 1.0f) * 101.0f / (100.0f * 10.0f));
    EXPECT_FLOAT_EQ(p._34, 1.0f);
    EXPECT_FLOAT_EQ(p._44, 0.0f);
}

TEST(MathMatrices, LookAtLH)
{
    D3DXMATRIX v;
    D3DXVECTOR3 eye(1, 2, 3), at(2, 2, 3), up(0, 1, 0);
    D3DXMatrixLookAtLH(&v, &eye, &at, &up);
    ExpectVec(Apply(v, eye), 0, 0, 0);
    ExpectVec(Apply(v, at), 0, 0, 1);
    ExpectVec(Apply(v, {1, 3, 3}), 0, 1, 0);
    // Left-handed: x = up cross forward = -Z in the world.
    ExpectVec(Apply(v, {1, 2, 2}), 1, 0, 0);
}

TEST(MathQuaternions, MatchMatrixRotations)
{
    D3DXVECTOR3 axis(0.3f, -1.2f, 0.8f);
    D3DXQUATERNION q;
    D3DXMATRIX fromQ, fromAxis;
    D3DXQuaternionRotationAxis(&q, &axis, 1.1f);
    D3DXMatrixRotationQuaternion(&fromQ, &q);
    D3DXMatrixRotationAxis(&fromAxis, &axis, 1.1f);
    ExpectMatrixNear(fromQ, fromAxis);

    D3DXMATRIX ypr;
    D3DXQuaternionRotationYawPitchRoll(&q, 0.4f, -0.9f, 2.3f);
    D3DXMatrixRotationQuaternion(&fromQ, &q);
    D3DXMatrixRotationYawPitchRoll(&ypr, 0.4f, -0.9f, 2.3f);
    ExpectMatrixNear(fromQ, ypr);
    EXPECT_NEAR(D3DXQuaternionLength(&q), 1.0f, kEps);

    D3DXQUATERNION back;
    D3DXQuaternionRotationMatrix(&back, &ypr);
    ExpectSameRotation(back, q);
}

TEST(MathQuaternions, RotationMatrixHandlesHalfTurns)
{
    D3DXVECTOR3 axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {0, -1, 1}};
    for (const D3DXVECTOR3& axis : axes) {
        D3DXQUATERNION q, back;
        D3DXMATRIX m;
        D3DXQuaternionRotationAxis(&q, &axis, 3.14159265f);
        D3DXMatrixRotationQuaternion(&m, &q);
        D3DXQuaternionRotationMatrix(&back, &m);
        ExpectSameRotation(back, q, 1e-4f);
    }
}

TEST(MathQuaternions, MultiplyAppliesFirstArgumentFirst)
{
    D3DXQUATERNION qz, qx, q;
    D3DXVECTOR3 z(0, 0, 1), x(1, 0, 0);
    D3DXQuaternionRotationAxis(&qz, &z, kHalfPi);
    D3DXQuaternionRotationAxis(&qx, &x, kHalfPi);
    D3DXQuaternionMultiply(&q, &qz, &qx);
    // Z turn carries +X to +Y, then X turn carries +Y to +Z.
    ExpectVec(Apply(q, {1, 0, 0}), 0, 0, 1);
    ExpectSameRotation(qz * qx, q);
    // Matrix of the product = product of the matrices in the same order.
    D3DXMATRIX mq, mz, mx;
    D3DXMatrixRotationQuaternion(&mq, &q);
    D3DXMatrixRotationQuaternion(&mz, &qz);
    D3DXMatrixRotationQuaternion(&mx, &qx);
    ExpectMatrixNear(mq, mz * mx);
}

TEST(MathQuaternions, ConjugateInverseIdentity)
{
    D3DXQUATERNION q(1, 2, 3, 4), c, inv, prod, id;
    D3DXQuaternionConjugate(&c, &q);
    EXPECT_EQ(c, D3DXQUATERNION(-1, -2, -3, 4));
    D3DXQuaternionInverse(&inv, &q);
    D3DXQuaternionMultiply(&prod, &q, &inv);
    D3DXQuaternionIdentity(&id);
    EXPECT_NEAR(prod.x, 0, kEps);
    EXPECT_NEAR(prod.y, 0, kEps);
    EXPECT_NEAR(prod.z, 0, kEps);
    EXPECT_NEAR(prod.w, 1, kEps);
    EXPECT_FLOAT_EQ(D3DXQuaternionLengthSq(&q), 30.0f);
    D3DXQUATERNION zero, zi;
    D3DXQuaternionInverse(&zi, &zero);
    EXPECT_EQ(zi, D3DXQUATERNION(0, 0, 0, 0));
    // The zero attitude (never reported) gives an identity matrix, no NaN.
    D3DXMATRIX m;
    D3DXMatrixRotationQuaternion(&m, &zero);
    EXPECT_TRUE(D3DXMatrixIsIdentity(&m));
}

TEST(MathQuaternions, SlerpTakesShorterArc)
{
    D3DXQUATERNION a, b, mid, expect;
    D3DXVECTOR3 z(0, 0, 1);
    D3DXQuaternionIdentity(&a);
    D3DXQuaternionRotationAxis(&b, &z, kHalfPi);
    D3DXQuaternionRotationAxis(&expect, &z, kHalfPi / 2);
    D3DXQuaternionSlerp(&mid, &a, &b, 0.5f);
    ExpectSameRotation(mid, expect);
    EXPECT_NEAR(D3DXQuaternionLength(&mid), 1.0f, kEps);
    D3DXQUATERNION negb = -b;
    D3DXQuaternionSlerp(&mid, &a, &negb, 0.5f);
    ExpectSameRotation(mid, expect);
    D3DXQuaternionSlerp(&mid, &a, &b, 0.0f);
    ExpectSameRotation(mid, a);
    D3DXQuaternionSlerp(&mid, &a, &b, 1.0f);
    ExpectSameRotation(mid, b);
}

TEST(MathPlanes, FromPointsDotIntersectTransform)
{
    D3DXVECTOR3 p0(0, 0, 2), p1(1, 0, 2), p2(0, 1, 2);
    D3DXPLANE pl;
    D3DXPlaneFromPoints(&pl, &p0, &p1, &p2);
    EXPECT_NEAR(pl.a, 0, kEps);
    EXPECT_NEAR(pl.b, 0, kEps);
    EXPECT_NEAR(pl.c, 1, kEps);
    EXPECT_NEAR(pl.d, -2, kEps);
    D3DXVECTOR3 above(5, 5, 7);
    EXPECT_NEAR(D3DXPlaneDotCoord(&pl, &above), 5.0f, kEps);
    EXPECT_NEAR(D3DXPlaneDotNormal(&pl, &above), 7.0f, kEps);
    D3DXVECTOR4 v4(0, 0, 7, 2);
    EXPECT_NEAR(D3DXPlaneDot(&pl, &v4), 3.0f, kEps);

    D3DXVECTOR3 a(0, 0, 0), b(3, 6, 9), hit;
    ASSERT_NE(D3DXPlaneIntersectLine(&hit, &pl, &a, &b), nullptr);
    ExpectVec(hit, 2.0f / 3, 4.0f / 3, 2);
    D3DXVECTOR3 c(1, 1, 0), keep(7, 7, 7);
    hit = keep;
    EXPECT_EQ(D3DXPlaneIntersectLine(&hit, &pl, &a, &c), nullptr);
    EXPECT_EQ(hit, keep);

    // Moving the plane by a translation: pass the inverse transpose.
    D3DXMATRIX t, ti, tit;
    D3DXMatrixTranslation(&t, 0, 0, 3);
    D3DXMatrixInverse(&ti, nullptr, &t);
    D3DXMatrixTranspose(&tit, &ti);
    D3DXPLANE moved;
    D3DXPlaneTransform(&moved, &pl, &tit);
    D3DXVECTOR3 onMoved(4, -1, 5);
    EXPECT_NEAR(D3DXPlaneDotCoord(&moved, &onMoved), 0.0f, kEps);

    D3DXPLANE big(0, 3, 4, 10), norm;
    D3DXPlaneNormalize(&norm, &big);
    EXPECT_NEAR(norm.b, 0.6f, kEps);
    EXPECT_NEAR(norm.c, 0.8f, kEps);
    EXPECT_NEAR(norm.d, 2.0f, kEps);
    D3DXVECTOR3 n(0, 1, 0), pt(0, 4, 0);
    D3DXPlaneFromPointNormal(&pl, &pt, &n);
    EXPECT_EQ(pl, D3DXPLANE(0, 1, 0, -4));
}

TEST(MathColours, PackUnpackLerp)
{
    D3DXCOLOR c(0x80FF4000u);
    EXPECT_FLOAT_EQ(c.a, 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(c.r, 1.0f);
    EXPECT_FLOAT_EQ(c.g, 64.0f / 255.0f);
    EXPECT_FLOAT_EQ(c.b, 0.0f);
    EXPECT_EQ(static_cast<std::uint32_t>(c), 0x80FF4000u);
    EXPECT_EQ(static_cast<std::uint32_t>(D3DXCOLOR(2.0f, -1.0f, 0.5f, NAN)), 0x00FF0080u);
    D3DXCOLOR a(0, 0, 0, 0), b(1, 0.5f, 0.25f, 1), r;
    D3DXColorLerp(&r, &a, &b, 0.5f);
    EXPECT_FLOAT_EQ(r.r, 0.5f);
    EXPECT_FLOAT_EQ(r.g, 0.25f);
    EXPECT_FLOAT_EQ(r.b, 0.125f);
    EXPECT_FLOAT_EQ(r.a, 0.5f);
}

}  // namespace
