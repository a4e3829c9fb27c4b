// D3DX matrix and vector functions against values worked out by hand from the
// documented matrices (row vectors, left-handed).

#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "platform/gfx/d3dx/d3dx9.h"

namespace {

constexpr float kPi = 3.14159265358979f;

D3DXVECTOR3 Apply(const D3DXMATRIX& m, D3DXVECTOR3 v) {
  D3DXVECTOR3 r;
  D3DXVec3TransformCoord(&r, &v, &m);
  return r;
}

void ExpectVec(const D3DXVECTOR3& v, float x, float y, float z, float eps = 1e-5f) {
  EXPECT_NEAR(v.x, x, eps);
  EXPECT_NEAR(v.y, y, eps);
  EXPECT_NEAR(v.z, z, eps);
}

void ExpectMatrixNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float eps = 1e-5f) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], eps) << "element " << i + 1 << j + 1;
}

TEST(D3dxMath, RotationsTurnAxesTheLeftHandedWay) {
  D3DXMATRIX m;
  ExpectVec(Apply(*D3DXMatrixRotationX(&m, kPi / 2), {0, 1, 0}), 0, 0, 1);
  ExpectVec(Apply(*D3DXMatrixRotationY(&m, kPi / 2), {1, 0, 0}), 0, 0, -1);
  ExpectVec(Apply(*D3DXMatrixRotationY(&m, kPi / 2), {0, 0, 1}), 1, 0, 0);
  ExpectVec(Apply(*D3DXMatrixRotationZ(&m, kPi / 2), {1, 0, 0}), 0, 1, 0);
  D3DXVECTOR3 axis(0, 0, 2);
  ExpectVec(Apply(*D3DXMatrixRotationAxis(&m, &axis, kPi / 2), {1, 0, 0}), 0, 1, 0);
}

TEST(D3dxMath, YawPitchRollAppliesRollThenPitchThenYaw) {
  D3DXMATRIX m;
  // Pitch takes +y to +z, then yaw takes +z to +x.
  ExpectVec(Apply(*D3DXMatrixRotationYawPitchRoll(&m, kPi / 2, kPi / 2, 0), {0, 1, 0}), 1, 0, 0);
  // Roll takes +x to +y, then pitch takes +y to +z, then yaw takes +z to +x.
  ExpectVec(Apply(*D3DXMatrixRotationYawPitchRoll(&m, kPi / 2, kPi / 2, kPi / 2), {1, 0, 0}), 1, 0, 0);
  ExpectVec(Apply(*D3DXMatrixRotationYawPitchRoll(&m, 0, 0, kPi / 2), {1, 0, 0}), 0, 1, 0);
  // A general case against the product of the single-axis matrices.
  D3DXMATRIX rz, rx, ry, expected;
  D3DXMatrixRotationZ(&rz, 0.3f);
  D3DXMatrixRotationX(&rx, -1.1f);
  D3DXMatrixRotationY(&ry, 2.5f);
  expected = rz * rx * ry;
  ExpectMatrixNear(*D3DXMatrixRotationYawPitchRoll(&m, 2.5f, -1.1f, 0.3f), expected);
}

TEST(D3dxMath, QuaternionFromYawPitchRollGivesTheSameRotationAsTheMatrix) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> angle(-3.5f, 3.5f);
  for (int i = 0; i < 50; ++i) {
    const float yaw = angle(rng), pitch = angle(rng), roll = angle(rng);
    D3DXQUATERNION q;
    D3DXQuaternionRotationYawPitchRoll(&q, yaw, pitch, roll);
    EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0f, 1e-5f);
    D3DXMATRIX fromQuat, direct;
    D3DXMatrixRotationQuaternion(&fromQuat, &q);
    D3DXMatrixRotationYawPitchRoll(&direct, yaw, pitch, roll);
    ExpectMatrixNear(fromQuat, direct, 2e-5f);
  }
  D3DXQUATERNION identity;
  D3DXQuaternionRotationYawPitchRoll(&identity, 0, 0, 0);
  EXPECT_EQ(identity, D3DXQUATERNION(0, 0, 0, 1));
}

TEST(D3dxMath, QuaternionMultiplyComposesInMatrixOrder) {
  D3DXQUATERNION a, b, ab;
  D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0);
  D3DXQuaternionRotationAxis(&a, &x, 0.7f);
  D3DXQuaternionRotationAxis(&b, &y, -1.3f);
  D3DXQuaternionMultiply(&ab, &a, &b);
  D3DXMATRIX ma, mb, mab;
  D3DXMatrixRotationQuaternion(&ma, &a);
  D3DXMatrixRotationQuaternion(&mb, &b);
  D3DXMatrixRotationQuaternion(&mab, &ab);
  ExpectMatrixNear(mab, ma * mb);
}

TEST(D3dxMath, MultiplyActsLeftOperandFirst) {
  D3DXMATRIX t, r, tr, rt;
  D3DXMatrixTranslation(&t, 10, 0, 0);
  D3DXMatrixRotationZ(&r, kPi / 2);
  D3DXMatrixMultiply(&tr, &t, &r);
  D3DXMatrixMultiply(&rt, &r, &t);
  ExpectVec(Apply(tr, {0, 0, 0}), 0, 10, 0);  // moved, then turned
  ExpectVec(Apply(rt, {0, 0, 0}), 10, 0, 0);  // turned, then moved
  // Output aliasing an operand.
  D3DXMATRIX a = t;
  D3DXMatrixMultiply(&a, &a, &r);
  EXPECT_EQ(a, tr);
}

TEST(D3dxMath, TranslationScalingAndTranspose) {
  D3DXMATRIX m;
  D3DXMatrixTranslation(&m, 1, 2, 3);
  EXPECT_EQ(m._41, 1);
  EXPECT_EQ(m._42, 2);
  EXPECT_EQ(m._43, 3);
  EXPECT_EQ(m._44, 1);
  ExpectVec(Apply(*D3DXMatrixScaling(&m, 2, 3, -1), {1, 1, 1}), 2, 3, -1);
  D3DXMATRIX t, tt;
  D3DXMatrixTranslation(&t, 4, 5, 6);
  D3DXMatrixTranspose(&tt, &t);
  EXPECT_EQ(tt._14, 4);
  EXPECT_EQ(tt._34, 6);
  EXPECT_EQ(tt._41, 0);
}

TEST(D3dxMath, InverseReportsDeterminantAndRefusesSingularMatrices) {
  D3DXMATRIX s, t, m, inv, product, identity;
  D3DXMatrixScaling(&s, 2, 4, 8);
  D3DXMatrixTranslation(&t, 1, 2, 3);
  m = s * t;
  float det = 0;
  ASSERT_NE(D3DXMatrixInverse(&inv, &det, &m), nullptr);
  EXPECT_FLOAT_EQ(det, 64.0f);
  EXPECT_FLOAT_EQ(D3DXMatrixDeterminant(&m), 64.0f);
  ExpectMatrixNear(m * inv, *D3DXMatrixIdentity(&identity));
  ExpectVec(Apply(inv, {3, 6, 11}), 1, 1, 1);

  // A general rotation-translation: the inverse undoes it.
  D3DXMATRIX r;
  D3DXMatrixRotationYawPitchRoll(&r, 0.4f, 1.2f, -0.8f);
  m = r * t;
  ASSERT_NE(D3DXMatrixInverse(&inv, nullptr, &m), nullptr);
  ExpectMatrixNear(inv * m, identity);

  D3DXMATRIX singular;
  D3DXMatrixScaling(&singular, 1, 0, 1);
  D3DXMATRIX untouched = identity;
  EXPECT_EQ(D3DXMatrixInverse(&untouched, &det, &singular), nullptr);
  EXPECT_EQ(det, 0.0f);
  EXPECT_EQ(untouched, identity);
}

TEST(D3dxMath, LookAtLHPutsTheTargetOnThePositiveZAxis) {
  D3DXMATRIX v;
  D3DXVECTOR3 eye(0, 0, -5), at(0, 0, 0), up(0, 1, 0);
  D3DXMatrixLookAtLH(&v, &eye, &at, &up);
  ExpectVec(Apply(v, at), 0, 0, 5);
  ExpectVec(Apply(v, {1, 0, 0}), 1, 0, 5);

  // Looking down -x from +x: world +z appears on the right.
  eye = D3DXVECTOR3(5, 0, 0);
  D3DXMatrixLookAtLH(&v, &eye, &at, &up);
  ExpectVec(Apply(v, {0, 0, 1}), 1, 0, 5);
  ExpectVec(Apply(v, {0, 1, 0}), 0, 1, 5);
}

TEST(D3dxMath, PerspectiveMapsNearAndFarToDepthZeroAndOne) {
  D3DXMATRIX p;
  D3DXMatrixPerspectiveFovLH(&p, kPi / 2, 2.0f, 1.0f, 101.0f);
  EXPECT_FLOAT_EQ(p._11, 0.5f);  // cot(45°) / aspect
  EXPECT_FLOAT_EQ(p._22, 1.0f);
  EXPECT_FLOAT_EQ(p._34, 1.0f);
  EXPECT_EQ(p._44, 0.0f);
  ExpectVec(Apply(p, {0, 0, 1}), 0, 0, 0);
  ExpectVec(Apply(p, {0, 0, 101}), 0, 0, 1);
  ExpectVec(Apply(p, {2, 1, 1}), 1, 1, 0);

  D3DXMatrixPerspectiveFovRH(&p, kPi / 2, 1.0f, 1.0f, 101.0f);
  EXPECT_FLOAT_EQ(p._34, -1.0f);
  ExpectVec(Apply(p, {0, 0, -1}), 0, 0, 0);
  ExpectVec(Apply(p, {0, 0, -101}), 0, 0, 1);
  ExpectVec(Apply(p, {1, 1, -1}), 1, 1, 0);
}

TEST(D3dxMath, OrthoRHMapsTheBoxToClipSpace) {
  D3DXMATRIX o;
  D3DXMatrixOrthoRH(&o, 100, 50, 1, 100);
  ExpectVec(Apply(o, {50, 25, -1}), 1, 1, 0);
  ExpectVec(Apply(o, {-50, -25, -100}), -1, -1, 1);
  D3DXMatrixOrthoLH(&o, 100, 50, 1, 100);
  ExpectVec(Apply(o, {0, 0, 100}), 0, 0, 1);
}

TEST(D3dxMath, VectorHelpers) {
  D3DXVECTOR3 v(3, 4, 0), n;
  EXPECT_FLOAT_EQ(D3DXVec3Length(&v), 5);
  ExpectVec(*D3DXVec3Normalize(&n, &v), 0.6f, 0.8f, 0);
  D3DXVECTOR3 zero(0, 0, 0);
  ExpectVec(*D3DXVec3Normalize(&n, &zero), 0, 0, 0);
  D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0), c;
  ExpectVec(*D3DXVec3Cross(&c, &x, &y), 0, 0, 1);
  EXPECT_FLOAT_EQ(D3DXVec3Dot(&v, &y), 4);

  // TransformNormal ignores translation; TransformCoord divides by w.
  D3DXMATRIX t;
  D3DXMatrixTranslation(&t, 5, 5, 5);
  ExpectVec(*D3DXVec3TransformNormal(&n, &x, &t), 1, 0, 0);
  D3DXMATRIX w = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2);
  ExpectVec(*D3DXVec3TransformCoord(&n, &v, &w), 1.5f, 2, 0);
  D3DXVECTOR4 r;
  D3DXVec3Transform(&r, &v, &t);
  EXPECT_FLOAT_EQ(r.w, 1);
  EXPECT_FLOAT_EQ(r.x, 8);
}

TEST(D3dxMath, ColorConversionClampsChannels) {
  EXPECT_EQ(D3DCOLOR(D3DXCOLOR(2.0f, -1.0f, 0.5f, 1.0f)), 0xFFFF0080u);
  const D3DXCOLOR c(0x80FF0000u);
  EXPECT_FLOAT_EQ(c.r, 1.0f);
  EXPECT_NEAR(c.a, 0.502f, 0.001f);
}

}  // namespace
