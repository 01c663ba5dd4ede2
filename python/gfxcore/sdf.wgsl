// Signed distance field of a scene buffer: the records written by
// SdfScene.to_gpu_bytes(), bound as a read-only storage buffer.
//
// Every function follows the CPU collider step by step: the same float32
// operations in the same order, so the two agree to the last bit wherever the
// GPU rounds each operation correctly. Max and min are written out rather than
// taken from the built-ins, whose result for a NaN operand is left to the
// implementation; NaN is recognised by its bits, since an optimiser may assume
// that x != x is never true.

// One 48-byte record. smooth_k sits at offset 24 and params[3] at 28; the
// distance functions read neither smooth_k nor csg_op.
struct SdfPrimitive {
    center: vec3<f32>,   // offset 0; a plane stores its normal here
    p0: f32,             // offset 12
    p1: f32,             // offset 16
    p2: f32,             // offset 20
    smooth_k: f32,       // offset 24
    p3: f32,             // offset 28
    type_code: u32,      // offset 32
    csg_op: u32,         // offset 36
    padding: vec2<u32>,  // offset 40, up to 48 bytes
}

@group(0) @binding(0) var<storage, read> sdf_scene: array<SdfPrimitive>;

// The distance of an empty scene and of an unknown type code: the largest
// finite float32.
const SDF_EMPTY_DISTANCE: f32 = 0x1.fffffep+127f;

const SDF_SPHERE: u32 = 0u;
const SDF_BOX: u32 = 1u;
const SDF_CYLINDER: u32 = 2u;
const SDF_CAPSULE: u32 = 3u;
const SDF_CONE: u32 = 4u;
const SDF_TORUS: u32 = 5u;
const SDF_PLANE: u32 = 6u;
const SDF_ROUNDED_BOX: u32 = 7u;

fn sdf_is_nan(a: f32) -> bool {
    return (bitcast<u32>(a) & 0x7fffffffu) > 0x7f800000u;
}

// max and min that drop a single NaN operand and keep the other.
fn sdf_max(a: f32, b: f32) -> f32 {
    if sdf_is_nan(a) {
        return b;
    }
    return select(a, b, a < b);
}

fn sdf_min(a: f32, b: f32) -> f32 {
    if sdf_is_nan(a) {
        return b;
    }
    return select(a, b, b < a);
}

fn sdf_sq(a: f32) -> f32 {
    return a * a;
}

fn sdf_pos(a: f32) -> f32 {
    return sdf_max(a, 0.0);
}

// Length of the positive part of (a, b, c).
fn sdf_outside(a: f32, b: f32, c: f32) -> f32 {
    return sqrt((sdf_sq(sdf_pos(a)) + sdf_sq(sdf_pos(b))) + sdf_sq(sdf_pos(c)));
}

fn sdf_sphere(d: vec3<f32>, radius: f32) -> f32 {
    return sqrt((sdf_sq(d.x) + sdf_sq(d.y)) + sdf_sq(d.z)) - radius;
}

// Half-extents h.
fn sdf_box(d: vec3<f32>, h: vec3<f32>) -> f32 {
    let qx = abs(d.x) - h.x;
    let qy = abs(d.y) - h.y;
    let qz = abs(d.z) - h.z;
    return sdf_min(sdf_max(sdf_max(qx, qy), qz), 0.0) + sdf_outside(qx, qy, qz);
}

// Axis along Y; half_height is measured from the centre.
fn sdf_cylinder(d: vec3<f32>, half_height: f32, radius: f32) -> f32 {
    let e1 = sqrt(sdf_sq(d.x) + sdf_sq(d.z)) - radius;
    let e2 = abs(d.y) - half_height;
    return sdf_min(sdf_max(e1, e2), 0.0) + sqrt(sdf_sq(sdf_pos(e2)) + sdf_sq(sdf_pos(e1)));
}

// The segment's ends are rebuilt from the centre and half of the stored
// B - A, so the ends the collider sees are the ends drawn here.
fn sdf_capsule(p: vec3<f32>, c: vec3<f32>, b_minus_a: vec3<f32>, radius: f32) -> f32 {
    let hx = b_minus_a.x * 0.5;
    let hy = b_minus_a.y * 0.5;
    let hz = b_minus_a.z * 0.5;
    let ax = c.x - hx;
    let ay = c.y - hy;
    let az = c.z - hz;
    let bx = c.x + hx;
    let by = c.y + hy;
    let bz = c.z + hz;
    let pax = p.x - ax;
    let pay = p.y - ay;
    let paz = p.z - az;
    let bax = bx - ax;
    let bay = by - ay;
    let baz = bz - az;
    let bb = (sdf_sq(bax) + sdf_sq(bay)) + sdf_sq(baz);
    var t = 0.0;
    if bb > 0.0 {
        t = ((pax * bax + pay * bay) + paz * baz) / bb;
        if t < 0.0 {
            t = 0.0;
        }
        if t > 1.0 {
            t = 1.0;
        }
    }
    return sqrt((sdf_sq(pax - bax * t) + sdf_sq(pay - bay * t)) + sdf_sq(paz - baz * t)) - radius;
}

// The cone's sine and cosine, within an ulp of the C library's sinf and cosf
// (which the collider calls) for |angle| <= 2π: a GPU's own sin and cos need
// only be within 2^-11, and some use that freedom. The angle is reduced by the
// nearest multiple k of π/2, split in four parts of which k times the first
// three is exact, and the remainder is carried as hi + lo, two-sum style, so
// that angles close to a multiple of π/2 keep their digits; the polynomials on
// [-π/4, π/4] keep the leading term apart. Every step is a single multiply,
// add or subtract, which WGSL rounds correctly. Larger angles go to the
// built-ins: their reduction would need more of π than these parts hold.
const SDF_TRIG_LIMIT: f32 = 6.28318548f;  // 2π rounded up
const SDF_TWO_OVER_PI: f32 = 0.636619747f;
const SDF_PIO2_1: f32 = 0x1.921f8p+0f;
const SDF_PIO2_2: f32 = 0x1.aa22p-19f;
const SDF_PIO2_3: f32 = 0x1.68c2p-39f;
const SDF_PIO2_4: f32 = 0x1.a62634p-58f;
const SDF_SIN_1: f32 = -1.6666654611e-1f;
const SDF_SIN_2: f32 = 8.3321608736e-3f;
const SDF_SIN_3: f32 = -1.9515295891e-4f;
const SDF_COS_1: f32 = 4.166664568298827e-2f;
const SDF_COS_2: f32 = -1.388731625493765e-3f;
const SDF_COS_3: f32 = 2.443315711809948e-5f;

// x itself. An optimiser that treats floats as real numbers (WGSL does not
// forbid it, and Mesa's does) would turn (hi + lo) - hi into lo and the
// error terms below into zero; it cannot see through this, since the angle
// it tests is unknown (and a NaN angle makes every value NaN anyway).
fn sdf_keep(x: f32, angle: f32) -> f32 {
    return select(x, angle, sdf_is_nan(angle));
}

fn sdf_sin_cos(angle: f32) -> vec2<f32> {
    if abs(angle) > SDF_TRIG_LIMIT {
        return vec2<f32>(sin(angle), cos(angle));
    }
    // Here sinf(a) is a and cosf(a) is 1, signed zeros included.
    if abs(angle) < 0x1p-12f {
        return vec2<f32>(angle, 1.0);
    }
    let k = round(angle * SDF_TWO_OVER_PI);
    let a = angle - k * SDF_PIO2_1;
    let b = k * SDF_PIO2_2;
    let hi = sdf_keep(a - b, angle);
    let bv = sdf_keep(hi - a, angle);
    let lo = ((a - (hi - bv)) + (-b - bv)) - (k * SDF_PIO2_3 + k * SDF_PIO2_4);
    let r = sdf_keep(hi + lo, angle);
    let rl = lo - (r - hi);
    let z = r * r;
    let sn = r + (rl + z * r * (SDF_SIN_1 + z * (SDF_SIN_2 + z * SDF_SIN_3)));
    let hz = 0.5 * z;
    let w = sdf_keep(1.0 - hz, angle);
    let cs = w + (((1.0 - w) - hz) + (z * z * (SDF_COS_1 + z * (SDF_COS_2 + z * SDF_COS_3)) - r * rl));
    switch i32(k) & 3 {
        case 0: {
            return vec2<f32>(sn, cs);
        }
        case 1: {
            return vec2<f32>(cs, -sn);
        }
        case 2: {
            return vec2<f32>(-sn, -cs);
        }
        default: {
            return vec2<f32>(-cs, sn);
        }
    }
}

// Axis along Y, apex at the centre; a right angle divides by cos = 0 and
// yields an infinite or NaN distance, as on the CPU. The sum in a2 is kept
// whole: an optimiser would otherwise subtract height / cs from one of its
// terms first.
fn sdf_cone(d: vec3<f32>, height: f32, angle: f32) -> f32 {
    let sin_cos = sdf_sin_cos(angle);
    let sn = sin_cos.x;
    let cs = sin_cos.y;
    let q = sqrt(sdf_sq(d.x) + sdf_sq(d.z));
    let a1 = cs * q - d.y * sn;
    let a2 = sdf_keep(d.y * cs + sn * q, angle) - height / cs;
    return sdf_min(sdf_max(-a1, a2), 0.0) + sqrt(sdf_sq(sdf_pos(a1)) + sdf_sq(sdf_pos(a2)));
}

// Ring in the XZ plane around the Y axis.
fn sdf_torus(d: vec3<f32>, r_major: f32, r_minor: f32) -> f32 {
    let t = sqrt(sdf_sq(d.x) + sdf_sq(d.z)) - r_major;
    return sqrt(sdf_sq(d.y) + sdf_sq(t)) - r_minor;
}

// The stored normal is used as is: its length scales the distance.
fn sdf_plane(p: vec3<f32>, normal: vec3<f32>, offset: f32) -> f32 {
    return ((p.x * normal.x + p.y * normal.y) + p.z * normal.z) - offset;
}

// Signed distance of p to one record's primitive.
fn sdf_primitive_distance(prim: SdfPrimitive, p: vec3<f32>) -> f32 {
    let c = prim.center;
    let d = vec3<f32>(p.x - c.x, p.y - c.y, p.z - c.z);
    switch prim.type_code {
        case SDF_SPHERE: {
            return sdf_sphere(d, prim.p0);
        }
        case SDF_BOX: {
            return sdf_box(d, vec3<f32>(prim.p0, prim.p1, prim.p2));
        }
        case SDF_CYLINDER: {
            return sdf_cylinder(d, prim.p0, prim.p1);
        }
        case SDF_CAPSULE: {
            return sdf_capsule(p, c, vec3<f32>(prim.p0, prim.p1, prim.p2), prim.p3);
        }
        case SDF_CONE: {
            return sdf_cone(d, prim.p0, prim.p1);
        }
        case SDF_TORUS: {
            return sdf_torus(d, prim.p0, prim.p1);
        }
        case SDF_PLANE: {
            return sdf_plane(p, c, prim.p0);
        }
        case SDF_ROUNDED_BOX: {
            return sdf_box(d, vec3<f32>(prim.p0, prim.p1, prim.p2)) - prim.p3;
        }
        default: {
            return SDF_EMPTY_DISTANCE;
        }
    }
}

// The union of every record of the scene: the smallest distance, where a NaN
// distance never wins, so the result is never NaN.
fn sdf_scene_distance(p: vec3<f32>) -> f32 {
    var best = SDF_EMPTY_DISTANCE;
    let count = arrayLength(&sdf_scene);
    for (var i = 0u; i < count; i++) {
        let d = sdf_primitive_distance(sdf_scene[i], p);
        if !sdf_is_nan(d) && d < best {
            best = d;
        }
    }
    return best;
}

// Outward normal by central differences with step 0.001, as the collider
// computes it (the differences are not divided by 2h); (0, 1, 0) where the
// gradient vanishes or is not a number.
fn sdf_scene_normal(p: vec3<f32>) -> vec3<f32> {
    let h = 0.001;
    let gx = sdf_scene_distance(vec3<f32>(p.x + h, p.y, p.z)) - sdf_scene_distance(vec3<f32>(p.x - h, p.y, p.z));
    let gy = sdf_scene_distance(vec3<f32>(p.x, p.y + h, p.z)) - sdf_scene_distance(vec3<f32>(p.x, p.y - h, p.z));
    let gz = sdf_scene_distance(vec3<f32>(p.x, p.y, p.z + h)) - sdf_scene_distance(vec3<f32>(p.x, p.y, p.z - h));
    let len = sqrt((sdf_sq(gx) + sdf_sq(gy)) + sdf_sq(gz));
    if len > 1e-10 {
        return vec3<f32>(gx / len, gy / len, gz / len);
    }
    return vec3<f32>(0.0, 1.0, 0.0);
}
